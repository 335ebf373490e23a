#pragma once

// What the memory checkers are told about the arena's memory, so that they
// see its blocks as they see the C library's: AddressSanitizer through
// poisoning (everything not handed out is poisoned: chunk space not yet cut,
// freed blocks, the word before each block), valgrind's memcheck through a
// memory pool per arena. Where neither is there, every call here is nothing;
// outside memcheck, the requests to it are a test of one flag.

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define DOLVIN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DOLVIN_ASAN 1
#endif
#endif
#ifdef DOLVIN_ASAN
#include <sanitizer/asan_interface.h>
// The arena's own reads and writes of the words it keeps in poisoned memory.
#define DOLVIN_NO_ASAN __attribute__((no_sanitize("address")))
#else
#define DOLVIN_NO_ASAN
#endif

namespace memory_checker {

// Whether the program runs under memcheck: asked when an arena starts.
extern bool underMemcheck;

// What memcheck is told (MemoryChecker.cpp), out of the arena's fast paths.
void MemcheckArenaStarts(const void* pool);
void MemcheckArenaEnds(const void* pool);
void MemcheckNoAccess(void* start, size_t size);
void MemcheckDefined(void* start, size_t size);
void MemcheckHandedOut(const void* pool, void* start, size_t size);
void MemcheckResized(const void* pool, void* start, size_t oldSize, size_t size);
void MemcheckFreed(const void* pool, void* start);

inline void ArenaStarts(const void* pool) {
    MemcheckArenaStarts(pool);
}

inline void ArenaEnds(const void* pool) {
    if (underMemcheck) {
        MemcheckArenaEnds(pool);
    }
}

// A new chunk: nothing in it is handed out yet.
inline void NewChunk(void* start, size_t size) {
#ifdef DOLVIN_ASAN
    ASAN_POISON_MEMORY_REGION(start, size);
#endif
    if (underMemcheck) {
        MemcheckNoAccess(start, size);
    }
}

// Under AddressSanitizer, the first size bytes of a slot of capacity bytes
// can be reached, the rest cannot.
inline void AsanExposeOnly([[maybe_unused]] void* start, [[maybe_unused]] size_t size,
                           [[maybe_unused]] size_t capacity) {
#ifdef DOLVIN_ASAN
    ASAN_UNPOISON_MEMORY_REGION(start, size);
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(start) + size, capacity - size);
#endif
}

// A block of size bytes handed out at start; the rest of its slot, up to
// capacity, stays out of reach.
inline void HandedOut(const void* pool, void* start, size_t size,
                      [[maybe_unused]] size_t capacity) {
    AsanExposeOnly(start, size, capacity);
    if (underMemcheck) {
        MemcheckHandedOut(pool, start, size);
    }
}

// A block handed out keeps its place and its contents, with a new size.
inline void Resized(const void* pool, void* start, size_t oldSize, size_t size,
                    [[maybe_unused]] size_t capacity) {
    AsanExposeOnly(start, size, capacity);
    if (underMemcheck) {
        MemcheckResized(pool, start, oldSize, size);
    }
}

inline void Freed(const void* pool, void* start, [[maybe_unused]] size_t capacity) {
#ifdef DOLVIN_ASAN
    ASAN_POISON_MEMORY_REGION(start, capacity);
#endif
    if (underMemcheck) {
        MemcheckFreed(pool, start);
    }
}

// Around the arena's own use of a word it keeps where blocks are not handed
// out (AddressSanitizer is kept away from those uses by DOLVIN_NO_ASAN).
inline void OpenWord(void* word, size_t size) {
    if (underMemcheck) {
        MemcheckDefined(word, size);
    }
}

inline void CloseWord(void* word, size_t size) {
    if (underMemcheck) {
        MemcheckNoAccess(word, size);
    }
}

}  // namespace memory_checker
