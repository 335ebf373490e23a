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
    auto* slots = static_cast<void**>(std::calloc(capacity, sizeof(void*)));
    if (slots == nullptr) {
        return false;
    }
    void** old = slots_;
    const size_t oldCapacity = capacity_;
    slots_ = slots;
    capacity_ = capacity;
    count_ = 0;
    for (size_t index = 0; index < oldCapacity; ++index) {
        if (old[index] != nullptr) {
            Insert(old[index]);
        }
    }
    std::free(old);
    return true;
}

void BlockTable::Insert(void* block) {
    assert(block != nullptr && 2 * (count_ + 1) <= capacity_ && !Contains(block));
    size_t index = Home(block);
    while (slots_[index] != nullptr) {
        index = (index + 1) & (capacity_ - 1);
    }
    slots_[index] = block;
    ++count_;
}

bool BlockTable::Contains(const void* block) const {
    if (count_ == 0) {
        return false;
    }
    for (size_t index = Home(block); slots_[index] != nullptr;
         index = (index + 1) & (capacity_ - 1)) {
        if (slots_[index] == block) {
            return true;
        }
    }
    return false;
}

bool BlockTable::Erase(const void* block) {
    if (count_ == 0) {
        return false;
    }
    const size_t mask = capacity_ - 1;
    size_t hole = Home(block);
    while (slots_[hole] != block) {
        if (slots_[hole] == nullptr) {
            return false;
        }
        hole = (hole + 1) & mask;
    }
    // Shifts back the entries after the hole that probing would no longer
    // reach: those whose home is not cyclically in (hole, index].
    for (size_t index = (hole + 1) & mask; slots_[index] != nullptr; index = (index + 1) & mask) {
        const size_t home = Home(slots_[index]);
        if (((index - home) & mask) >= ((index - hole) & mask)) {
            slots_[hole] = slots_[index];
            hole = index;
        }
    }
    slots_[hole] = nullptr;
    --count_;
    return true;
}

void BlockTable::FreeAll() {
    for (size_t index = 0; index < capacity_; ++index) {
        std::free(slots_[index]);
    }
    std::free(slots_);
    slots_ = nullptr;
    capacity_ = count_ = 0;
}
