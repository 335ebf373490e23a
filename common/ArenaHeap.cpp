#include "common/ArenaHeap.h"

#include <sys/mman.h>

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "common/MemoryChecker.h"

namespace {

constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t kWord = sizeof(uintptr_t);
// Blocks of up to kFineSize bytes come in steps of the alignment, as the C
// library's own blocks do; larger ones in sixteen steps per doubling of
// their size (at most 1/16 of a block unused). Steps of the block's size
// rather than its slot's (block and word): the library asks for powers of
// two and a little less, and each of those fits its step.
constexpr size_t kFineSize = 1024;
constexpr unsigned kFineShift = 10;  // log2(kFineSize)
constexpr size_t kFirstChunk = size_t{256} << 10;
constexpr size_t kLargestChunk = size_t{8} << 20;

constexpr size_t RoundUp(size_t size) {
    return (size + kAlign - 1) & ~(kAlign - 1);
}

// A block and the word before it, whole alignments.
constexpr size_t Slot(size_t size) {
    return RoundUp(size + kWord);
}

constexpr size_t kFineClasses = Slot(kFineSize) / kAlign;

unsigned Log2(size_t value) {
    return static_cast<unsigned>(sizeof(unsigned long) * 8 - 1) -
           static_cast<unsigned>(__builtin_clzl(static_cast<unsigned long>(value)));
}

// The smallest class whose blocks hold size bytes.
unsigned ClassOf(size_t size) {
    if (size <= kFineSize) {
        return static_cast<unsigned>(Slot(size) / kAlign - 1);
    }
    const unsigned power = Log2(size - 1);  // 2^power < size <= 2^(power+1)
    const size_t step = (size - 1 - (size_t{1} << power)) >> (power - 4);
    return static_cast<unsigned>(kFineClasses + size_t{power - kFineShift} * 16 + step);
}

constexpr size_t ComputeSlot(size_t sizeClass) {
    if (sizeClass < kFineClasses) {
        return (sizeClass + 1) * kAlign;
    }
    const size_t coarse = sizeClass - kFineClasses;
    const size_t power = kFineShift + coarse / 16;
    return Slot((size_t{1} << power) + (coarse % 16 + 1) * (size_t{1} << (power - 4)));
}

// Classes up to the largest block: six doublings above 1 KiB.
constexpr size_t kClassCount = kFineClasses + size_t{6} * 16;
static_assert(kClassCount <= 256, "every class fits its bits and has a free list");

struct SlotTable {
    size_t slots[kClassCount] = {};
    constexpr SlotTable() {
        for (size_t sizeClass = 0; sizeClass < kClassCount; ++sizeClass) {
            slots[sizeClass] = ComputeSlot(sizeClass);
        }
    }
};
constexpr SlotTable kSlotTable;

size_t SlotOf(unsigned sizeClass) {
    return kSlotTable.slots[sizeClass];
}

// The word before a block: its size, its class, whether it is handed out,
// and the arena's mark.
constexpr unsigned kSizeBits = 17;
constexpr unsigned kClassShift = kSizeBits;
constexpr uintptr_t kLive = uintptr_t{1} << (kClassShift + 8);
constexpr uintptr_t kMarkMask = ~((kLive << 1) - 1);
static_assert(ArenaHeap::kLargestBlock < (size_t{1} << kSizeBits), "the size fits its bits");

// The words of the arena's own (before each block, and the link in a free
// block) lie where the checkers are told nothing is handed out.
DOLVIN_NO_ASAN inline uintptr_t ReadWord(char* at) {
    memory_checker::OpenWord(at, kWord);
    uintptr_t word = 0;
    std::memcpy(&word, at, kWord);
    memory_checker::CloseWord(at, kWord);
    return word;
}

DOLVIN_NO_ASAN inline void WriteWord(char* at, uintptr_t word) {
    memory_checker::OpenWord(at, kWord);
    std::memcpy(at, &word, kWord);
    memory_checker::CloseWord(at, kWord);
}

// A free block holds the next block of its free list.
DOLVIN_NO_ASAN inline void* ReadLink(char* block) {
    memory_checker::OpenWord(block, sizeof(void*));
    void* next = nullptr;
    std::memcpy(&next, block, sizeof next);
    memory_checker::CloseWord(block, sizeof(void*));
    return next;
}

DOLVIN_NO_ASAN inline void WriteLink(char* block, void* next) {
    memory_checker::OpenWord(block, sizeof(void*));
    std::memcpy(block, &next, sizeof next);
    memory_checker::CloseWord(block, sizeof(void*));
}

char* Header(void* block) {
    return static_cast<char*>(block) - kWord;
}

unsigned ClassIn(uintptr_t word) {
    return static_cast<unsigned>((word >> kClassShift) & 0xFF);
}

size_t SizeIn(uintptr_t word) {
    return word & ((uintptr_t{1} << kSizeBits) - 1);
}

// Where the kernel gives huge pages on request, a chunk is faulted in 2 MiB
// at a time rather than 4 KiB: far fewer page faults for a large document.
// Elsewhere (the panel's kernel) the advice is refused and changes nothing.
void AdviseHugePages(char* start, size_t size) {
    constexpr size_t kHugePage = size_t{2} << 20;
    const size_t lead = (kHugePage - reinterpret_cast<uintptr_t>(start) % kHugePage) % kHugePage;
    const size_t length = size > lead ? (size - lead) & ~(kHugePage - 1) : 0;
    if (length > 0) {
        madvise(start + lead, length, MADV_HUGEPAGE);
    }
}

}  // namespace

void ArenaHeap::Start(uintptr_t mark) {
    assert(chunkCount_ == 0);
    mark_ = mark & kMarkMask;
    nextChunk_ = kFirstChunk;
    started_ = true;
    memory_checker::ArenaStarts(this);
}

ptrdiff_t ArenaHeap::SizeOf(void* address) const {
    char* at = static_cast<char*>(address);
    const Chunk* found =
        std::upper_bound(chunks_, chunks_ + chunkCount_, at,
                         [](const char* a, const Chunk& c) { return a < c.begin; });
    if (found == chunks_ || at >= found[-1].end) {
        return kNotInChunk;
    }
    // Only a slot already cut can hold a block; blocks start one alignment
    // into a chunk or a whole number of alignments after.
    if (at < found[-1].begin + kAlign || (cursor_ <= at && at < limit_) ||
        static_cast<size_t>(at - found[-1].begin) % kAlign != 0) {
        return kNotABlock;
    }
    const uintptr_t word = ReadWord(Header(at));
    if ((word & (kMarkMask | kLive)) != (mark_ | kLive) || ClassIn(word) >= kClassCount ||
        Slot(SizeIn(word)) > SlotOf(ClassIn(word))) {
        return kNotABlock;
    }
    return static_cast<ptrdiff_t>(SizeIn(word));
}

size_t ArenaHeap::Capacity(void* block) {
    return SlotOf(ClassIn(ReadWord(Header(block)))) - kWord;
}

void* ArenaHeap::Allocate(size_t size, size_t room) {
    assert(size <= kLargestBlock);
    const unsigned sizeClass = ClassOf(std::max(size, room));
    const size_t slot = SlotOf(sizeClass);
    assert(slot >= Slot(std::max(size, room)) && sizeClass < kClassCount);
    char* block = static_cast<char*>(freeLists_[sizeClass]);
    if (block != nullptr) {
        assert(ReadWord(Header(block)) == (mark_ | (uintptr_t{sizeClass} << kClassShift)));
        freeLists_[sizeClass] = ReadLink(block);
    } else {
        if (static_cast<size_t>(limit_ - cursor_) < slot && !StartChunk(slot)) {
            return nullptr;
        }
        block = cursor_ + kWord;
        cursor_ += slot;
        assert(cursor_ <= limit_);
    }
    WriteWord(Header(block), mark_ | kLive | (uintptr_t{sizeClass} << kClassShift) | size);
    memory_checker::HandedOut(this, block, size, slot - kWord);
    return block;
}

void ArenaHeap::Resize(void* block, size_t size) {
    const uintptr_t word = ReadWord(Header(block));
    const size_t capacity = SlotOf(ClassIn(word)) - kWord;
    assert((word & kLive) != 0 && size <= capacity);
    WriteWord(Header(block), (word & ~((uintptr_t{1} << kSizeBits) - 1)) | size);
    memory_checker::Resized(this, block, SizeIn(word), size, capacity);
}

void ArenaHeap::Release(void* block) {
    const uintptr_t word = ReadWord(Header(block));
    assert((word & (kMarkMask | kLive)) == (mark_ | kLive));
    memory_checker::Freed(this, block, SlotOf(ClassIn(word)) - kWord);
    PushFree(static_cast<char*>(block), ClassIn(word));
}

void ArenaHeap::PushFree(char* block, unsigned sizeClass) {
    WriteWord(Header(block), mark_ | (uintptr_t{sizeClass} << kClassShift));
    WriteLink(block, freeLists_[sizeClass]);
    freeLists_[sizeClass] = block;
}

// The unused end of a chunk becomes free blocks, the largest that fit.
void ArenaHeap::Carve(char* from, const char* to) {
    while (static_cast<size_t>(to - from) >= Slot(0)) {
        const auto room = static_cast<size_t>(to - from);
        unsigned sizeClass = ClassOf(std::min(room - kWord, ArenaHeap::kLargestBlock));
        while (SlotOf(sizeClass) > room) {
            --sizeClass;
        }
        PushFree(from + kWord, sizeClass);
        from += SlotOf(sizeClass);
    }
}

bool ArenaHeap::StartChunk(size_t slot) {
    const size_t least = slot + kAlign;
    size_t size = std::max(nextChunk_, least);
    char* start = nullptr;
    // With memory short, a smaller chunk may still be had.
    while ((start = static_cast<char*>(std::malloc(size))) == nullptr && size > least) {
        size = std::max(size / 2, least);
    }
    if (start == nullptr) {
        return false;
    }
    if (!Record({start, start + size})) {
        std::free(start);
        return false;
    }
    AdviseHugePages(start, size);
    memory_checker::NewChunk(start, size);
    Carve(cursor_, limit_);
    // The first block starts one alignment in: its word ends that slot.
    cursor_ = start + kAlign - kWord;
    limit_ = start + size;
    nextChunk_ = std::min(2 * nextChunk_, kLargestChunk);
    return true;
}

bool ArenaHeap::Record(Chunk chunk) {
    if (chunkCount_ == chunkRoom_) {
        const size_t room = chunkRoom_ == 0 ? 16 : 2 * chunkRoom_;
        auto* chunks = static_cast<Chunk*>(std::realloc(chunks_, room * sizeof(Chunk)));
        if (chunks == nullptr) {
            return false;
        }
        chunks_ = chunks;
        chunkRoom_ = room;
    }
    Chunk* at = std::upper_bound(chunks_, chunks_ + chunkCount_, chunk.begin,
                                 [](const char* a, const Chunk& c) { return a < c.begin; });
    std::memmove(at + 1, at, static_cast<size_t>(chunks_ + chunkCount_ - at) * sizeof(Chunk));
    *at = chunk;
    ++chunkCount_;
    return true;
}

void ArenaHeap::ReleaseAll() {
    if (started_) {
        memory_checker::ArenaEnds(this);
        started_ = false;
    }
    for (size_t index = 0; index < chunkCount_; ++index) {
        std::free(chunks_[index].begin);
    }
    std::free(chunks_);
    chunks_ = nullptr;
    chunkCount_ = chunkRoom_ = 0;
    cursor_ = limit_ = nullptr;
    std::fill(std::begin(freeLists_), std::end(freeLists_), nullptr);
}
