#pragma once

#include <cstddef>

// A set of blocks from the C library, by address, so that the arena knows
// its own without reading the memory of a block it may not own. Open
// addressing with linear probing; it takes its memory from the C library and
// reports a failure to get it instead of throwing.
class BlockTable {
  public:
    BlockTable() = default;
    BlockTable(const BlockTable&) = delete;
    BlockTable& operator=(const BlockTable&) = delete;
    ~BlockTable();

    // Room for one more block, so that the next Insert cannot fail.
    bool ReserveOne();
    // Adds a block not in the set; needs the room ReserveOne made.
    void Insert(void* block);
    bool Contains(const void* block) const;
    // Whether the block was there; it is not any more.
    bool Erase(const void* block);
    // Gives every block back to the C library and empties the set.
    void FreeAll();

  private:
    size_t Home(const void* block) const;
    bool Grow();

    void** slots_ = nullptr;  // nullptr: free
    size_t capacity_ = 0;     // a power of two, or 0
    size_t count_ = 0;
};
