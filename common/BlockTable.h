#pragma once

#include <cstddef>

// Blocks from the C library with the room each was given, by address, so
// that the arena knows its own without reading the memory of a block it may
// not own. Open addressing with linear probing; it takes its memory from the
// C library and reports a failure to get it instead of throwing.
class BlockTable {
  public:
    BlockTable() = default;
    BlockTable(const BlockTable&) = delete;
    BlockTable& operator=(const BlockTable&) = delete;
    ~BlockTable();

    // Room for one more block, so that the next Insert cannot fail.
    bool ReserveOne();
    // Adds a block not in the table; needs the room ReserveOne made.
    void Insert(void* block, size_t room);
    // The room of a block in the table, or nullptr.
    size_t* Find(const void* block) const;
    // Whether the block was there; it is not any more.
    bool Erase(const void* block);
    // Gives every block back to the C library and empties the table.
    void FreeAll();

  private:
    struct Entry {
        void* block;  // nullptr: free
        size_t room;
    };

    size_t Home(const void* block) const;
    bool Grow();

    Entry* slots_ = nullptr;
    size_t capacity_ = 0;  // a power of two, or 0
    size_t count_ = 0;
};
