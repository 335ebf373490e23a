#pragma once

#include <cstddef>
#include <cstdint>

// The arena's blocks of up to kLargestBlock bytes, cut from chunks taken from
// the C library. Each block has a size class (steps of the alignment up to
// 1 KiB, then sixteen steps per doubling) and a word before it holding its
// class, its size and the mark of the arena that made it; a freed block goes
// to the free list of its class and is handed out again first. Chunks double
// up to 8 MiB and all go back to the C library together.
class ArenaHeap {
  public:
    static constexpr size_t kLargestBlock = size_t{64} << 10;

    ArenaHeap() = default;
    ArenaHeap(const ArenaHeap&) = delete;
    ArenaHeap& operator=(const ArenaHeap&) = delete;
    ~ArenaHeap() { ReleaseAll(); }

    // Starts empty; mark tells the blocks of this arena from those of any
    // other that had the same memory.
    void Start(uintptr_t mark);
    // A block of size bytes (at most kLargestBlock) with room for at least
    // room bytes, or nullptr when no memory is to be had.
    void* Allocate(size_t size, size_t room);
    // What an address is: kNotInChunk (nothing of the chunks' memory is
    // read then), kNotABlock, or the size of a block handed out.
    static constexpr ptrdiff_t kNotInChunk = -2;
    static constexpr ptrdiff_t kNotABlock = -1;
    ptrdiff_t SizeOf(void* address) const;
    // The room of a block handed out.
    static size_t Capacity(void* block);
    // A block handed out takes a new size within its room.
    void Resize(void* block, size_t size);
    void Release(void* block);
    // Gives every chunk back: no block is used after.
    void ReleaseAll();

  private:
    struct Chunk {
        char* begin;
        char* end;
    };

    bool StartChunk(size_t slot);
    bool Record(Chunk chunk);
    void Carve(char* from, const char* to);
    void PushFree(char* block, unsigned sizeClass);

    uintptr_t mark_ = 0;
    Chunk* chunks_ = nullptr;  // by address
    size_t chunkCount_ = 0;
    size_t chunkRoom_ = 0;
    size_t nextChunk_ = 0;
    char* cursor_ = nullptr;  // where the next slot of the newest chunk starts
    char* limit_ = nullptr;   // the end of the newest chunk
    bool started_ = false;
    void* freeLists_[256] = {};
};
