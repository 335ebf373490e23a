#include "common/XmlArena.h"

#include <libxml/xmlmemory.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/ArenaHeap.h"
#include "common/BlockTable.h"

namespace {

// Once installed, these functions stay the library's: a block freed after an
// arena ended must still come here, where it is recognised and left alone.
struct State {
    bool installed = false;  // the functions below are the library's
    bool live = false;       // an arena is in place
    bool ended = false;      // an arena has ended: unknown blocks may be its own
    uintptr_t arenas = 0;    // arenas started, for their marks
    ArenaHeap heap;          // blocks up to ArenaHeap::kLargestBlock
    BlockTable apart;        // the arena's larger blocks, from the C library
    BlockTable outside;      // blocks from the C library made while no arena was in place
};
State state;

// A block that must grow gets a quarter more room than it had at least, so
// that a string growing a few bytes at a time moves a few dozen times, not
// once per growth.
size_t Room(size_t capacity) {
    return capacity <= SIZE_MAX / 2 ? capacity + capacity / 4 : capacity;
}

void* FromCLibrary(BlockTable& table, size_t size) {
    if (!table.ReserveOne()) {
        return nullptr;
    }
    void* block = std::malloc(size);
    if (block != nullptr) {
        table.Insert(block, size);
    }
    return block;
}

void* Allocate(size_t size) {
    if (!state.live) {
        return FromCLibrary(state.outside, size);
    }
    if (size <= ArenaHeap::kLargestBlock) {
        return state.heap.Allocate(size, size);
    }
    return FromCLibrary(state.apart, size);
}

// A block of the C library grows with the C library's realloc (in place, or
// by moving pages), and keeps its place in its table. With memory short, it
// may still get the size asked for without the room.
void* ReallocateIn(BlockTable& table, void* block, size_t size) {
    const size_t room = *table.Find(block);
    if (size <= room) {
        return block;
    }
    if (!table.ReserveOne()) {
        return nullptr;
    }
    table.Erase(block);
    size_t grown = std::max(size, Room(room));
    void* moved = std::realloc(block, grown);
    if (moved == nullptr && grown > size) {
        grown = size;
        moved = std::realloc(block, grown);
    }
    table.Insert(moved != nullptr ? moved : block, moved != nullptr ? grown : room);
    return moved;
}

// A block neither the arena's nor known as one of the C library's: one made
// before the first arena was installed goes back to the C library; any other
// is a block of an arena that ended, whose memory is gone.
bool FromBeforeTheArena() {
    return state.live && !state.ended;
}

void Release(void* block) {
    if (block == nullptr) {
        return;
    }
    const ptrdiff_t size = state.live ? state.heap.SizeOf(block) : ArenaHeap::kNotInChunk;
    if (size >= 0) {
        state.heap.Release(block);
    } else if (size == ArenaHeap::kNotInChunk) {
        if (state.apart.Erase(block) || state.outside.Erase(block) || FromBeforeTheArena()) {
            std::free(block);
        }
    }
}

void* Reallocate(void* block, size_t size) {
    if (block == nullptr) {
        return Allocate(size);
    }
    const ptrdiff_t held = state.live ? state.heap.SizeOf(block) : ArenaHeap::kNotInChunk;
    if (held == ArenaHeap::kNotABlock) {
        return nullptr;
    }
    if (held == ArenaHeap::kNotInChunk) {
        if (state.apart.Find(block) != nullptr) {
            return ReallocateIn(state.apart, block, size);
        }
        if (state.outside.Find(block) != nullptr) {
            return ReallocateIn(state.outside, block, size);
        }
        // A block from before the arena stays the C library's, outside it.
        if (!FromBeforeTheArena() || !state.outside.ReserveOne()) {
            return nullptr;
        }
        void* moved = std::realloc(block, size);
        if (moved != nullptr) {
            state.outside.Insert(moved, size);
        }
        return moved;
    }
    const size_t capacity = ArenaHeap::Capacity(block);
    if (size <= capacity) {
        state.heap.Resize(block, size);
        return block;
    }
    void* moved =
        size <= ArenaHeap::kLargestBlock
            ? state.heap.Allocate(size, std::min(Room(capacity), ArenaHeap::kLargestBlock))
            : FromCLibrary(state.apart, std::max(size, Room(capacity)));
    if (moved != nullptr) {
        std::memcpy(moved, block, static_cast<size_t>(held));
        state.heap.Release(block);
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
    assert(!state.live);
    if (!kBuiltWithArena || state.live) {
        return;
    }
    if (!state.installed) {
        state.installed = xmlMemSetup(Release, Allocate, Reallocate, Duplicate) == 0;
    }
    if (state.installed) {
        // Each arena marks its blocks apart from those of the arenas before it.
        state.heap.Start(++state.arenas * uintptr_t{0x9E3779B97F4A7C15ULL & UINTPTR_MAX});
        state.live = true;
    }
}

XmlArena::~XmlArena() {
    if (state.live) {
        state.heap.ReleaseAll();
        state.apart.FreeAll();
        state.live = false;
        state.ended = true;
    }
}

bool XmlArenaInstalled() {
    return state.live;
}
