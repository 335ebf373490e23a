#include "common/XmlArena.h"

#include <libxml/xmlmemory.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kAlign = alignof(std::max_align_t);
constexpr size_t RoundUp(size_t size) {
    return (size + kAlign - 1) & ~(kAlign - 1);
}

// Every block is preceded by one word: its capacity, with kApart set for a
// block of its own from the C library. The word fills the end of an aligned
// slot: a block and its word take a whole number of slots.
constexpr size_t kWord = sizeof(size_t);
constexpr size_t kApart = 1;
// Larger blocks are kept apart, so that the library can give them back when it
// grows a buffer or a hash table.
constexpr size_t kLargeBlock = size_t{64} << 10;
// Chunks double in size up to the largest: few calls into the C library for a
// large document, little unused memory for a small one.
constexpr size_t kFirstChunk = size_t{256} << 10;
constexpr size_t kLargestChunk = size_t{8} << 20;

// Chunks and blocks apart are chained together for the release at the end.
struct Link {
    Link* previous;
    Link* next;
};
constexpr size_t kLinkSpace = RoundUp(sizeof(Link));
// A block apart starts one slot after its link; its word ends that slot.
constexpr size_t kApartOffset = kLinkSpace + kAlign;
static_assert(kApartOffset + kLargeBlock <= kFirstChunk, "a small block fits a chunk");

struct Arena {
    bool installed = false;
    Link owned{&owned, &owned};
    char* cursor = nullptr;  // the free space of the newest chunk, one word before a slot
    char* end = nullptr;
    char* newest = nullptr;  // the last block cut from it, which can grow in place
    size_t nextChunk = kFirstChunk;
};
Arena arena;

size_t& Capacity(void* block) {
    return *reinterpret_cast<size_t*>(static_cast<char*>(block) - kWord);
}

Link* LinkOf(void* block) {
    return reinterpret_cast<Link*>(static_cast<char*>(block) - kApartOffset);
}

// Chains a chunk or a block apart; returns where its contents start.
char* Chain(Link* link) {
    link->previous = arena.owned.previous;
    link->next = &arena.owned;
    arena.owned.previous->next = link;
    arena.owned.previous = link;
    return reinterpret_cast<char*>(link) + kLinkSpace;
}

void Unchain(Link* link) {
    link->previous->next = link->next;
    link->next->previous = link->previous;
}

void* AllocateApart(size_t size) {
    if (size >= SIZE_MAX - kApartOffset) {
        return nullptr;
    }
    size += size & 1;
    auto* link = static_cast<Link*>(std::malloc(kApartOffset + size));
    if (link == nullptr) {
        return nullptr;
    }
    void* block = Chain(link) + kAlign;
    Capacity(block) = size | kApart;  // at least the size: sizes are even
    return block;
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

bool StartChunk() {
    const size_t size = arena.nextChunk;
    auto* link = static_cast<Link*>(std::malloc(size));
    if (link == nullptr) {
        return false;
    }
    AdviseHugePages(reinterpret_cast<char*>(link), size);
    arena.cursor = Chain(link) + kAlign - kWord;
    arena.end = reinterpret_cast<char*>(link) + size;
    arena.newest = nullptr;
    arena.nextChunk = std::min(2 * size, kLargestChunk);
    return true;
}

void* Allocate(size_t size) {
    if (size > kLargeBlock) {
        return AllocateApart(size);
    }
    const size_t capacity = RoundUp(size + kWord) - kWord;
    if (static_cast<size_t>(arena.end - arena.cursor) < kWord + capacity && !StartChunk()) {
        return nullptr;
    }
    char* block = arena.cursor + kWord;
    Capacity(block) = capacity;
    arena.cursor = block + capacity;
    arena.newest = block;
    return block;
}

// A block of the arena stays where it is, but the newest one's space is
// taken back: libxml2 often frees a scratch string right after making it.
void Release(void* block) {
    if (block == nullptr) {
        return;
    }
    if ((Capacity(block) & kApart) != 0) {
        Link* link = LinkOf(block);
        Unchain(link);
        std::free(link);
    } else if (block == arena.newest) {
        arena.cursor = arena.newest - kWord;
        arena.newest = nullptr;
    }
}

void* Reallocate(void* block, size_t size) {
    if (block == nullptr) {
        return Allocate(size);
    }
    const size_t capacity = Capacity(block) & ~kApart;
    if (size <= capacity) {
        return block;
    }
    const size_t grown = RoundUp(size + kWord) - kWord;
    if (block == arena.newest && size <= kLargeBlock &&
        grown <= static_cast<size_t>(arena.end - arena.newest)) {
        Capacity(block) = grown;
        arena.cursor = arena.newest + grown;
        return block;
    }
    void* moved = Allocate(size);
    if (moved != nullptr) {
        std::memcpy(moved, block, capacity);
        Release(block);
    }
    return moved;
}

char* Duplicate(const char* text) {
    const size_t size = std::strlen(text) + 1;
    void* copy = Allocate(size);
    return copy != nullptr ? static_cast<char*>(std::memcpy(copy, text, size)) : nullptr;
}

}  // namespace

XmlArena::XmlArena() {
    constexpr bool kBuiltWithArena = DOLVIN_XML_ARENA != 0;
    if (kBuiltWithArena) {
        arena.installed = xmlMemSetup(Release, Allocate, Reallocate, Duplicate) == 0;
    }
}

XmlArena::~XmlArena() {
    for (Link* link = arena.owned.next; link != &arena.owned;) {
        Link* next = link->next;
        std::free(link);
        link = next;
    }
    arena.owned = {&arena.owned, &arena.owned};
    arena.cursor = arena.end = arena.newest = nullptr;
    arena.nextChunk = kFirstChunk;
    arena.installed = false;
}

bool XmlArenaInstalled() {
    return arena.installed;
}
