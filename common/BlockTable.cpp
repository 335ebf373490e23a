#include "common/BlockTable.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t kFirstCapacity = 64;

}  // namespace

// Empty after, should the library still free a block at exit.
BlockTable::~BlockTable() {
    std::free(slots_);
    slots_ = nullptr;
    capacity_ = count_ = 0;
}

size_t BlockTable::Home(const void* block) const {
    // Fibonacci hashing of the address without its always-zero low bits.
    const uint64_t mixed =
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block) >> 3) * 0x9E3779B97F4A7C15ULL;
    return static_cast<size_t>(mixed >> 32) & (capacity_ - 1);
}

bool BlockTable::ReserveOne() {
    // At most half full: probes stay short.
    return 2 * (count_ + 1) <= capacity_ || Grow();
}

bool BlockTable::Grow() {
    const size_t capacity = capacity_ == 0 ? kFirstCapacity : 2 * capacity_;
    auto* slots = static_cast<Entry*>(std::calloc(capacity, sizeof(Entry)));
    if (slots == nullptr) {
        return false;
    }
    Entry* old = slots_;
    const size_t oldCapacity = capacity_;
    slots_ = slots;
    capacity_ = capacity;
    count_ = 0;
    for (size_t index = 0; index < oldCapacity; ++index) {
        if (old[index].block != nullptr) {
            Insert(old[index].block, old[index].room);
        }
    }
    std::free(old);
    return true;
}

void BlockTable::Insert(void* block, size_t room) {
    assert(block != nullptr && 2 * (count_ + 1) <= capacity_ && Find(block) == nullptr);
    size_t index = Home(block);
    while (slots_[index].block != nullptr) {
        index = (index + 1) & (capacity_ - 1);
    }
    slots_[index] = {block, room};
    ++count_;
}

size_t* BlockTable::Find(const void* block) const {
    if (count_ == 0) {
        return nullptr;
    }
    for (size_t index = Home(block); slots_[index].block != nullptr;
         index = (index + 1) & (capacity_ - 1)) {
        if (slots_[index].block == block) {
            return &slots_[index].room;
        }
    }
    return nullptr;
}

bool BlockTable::Erase(const void* block) {
    if (count_ == 0) {
        return false;
    }
    const size_t mask = capacity_ - 1;
    size_t hole = Home(block);
    while (slots_[hole].block != block) {
        if (slots_[hole].block == nullptr) {
            return false;
        }
        hole = (hole + 1) & mask;
    }
    // Shifts back the entries after the hole that probing would no longer
    // reach: those whose home is not cyclically in (hole, index].
    for (size_t index = (hole + 1) & mask; slots_[index].block != nullptr;
         index = (index + 1) & mask) {
        const size_t home = Home(slots_[index].block);
        if (((index - home) & mask) >= ((index - hole) & mask)) {
            slots_[hole] = slots_[index];
            hole = index;
        }
    }
    slots_[hole] = {nullptr, 0};
    --count_;
    return true;
}

void BlockTable::FreeAll() {
    for (size_t index = 0; index < capacity_; ++index) {
        std::free(slots_[index].block);
    }
    std::free(slots_);
    slots_ = nullptr;
    capacity_ = count_ = 0;
}
