#pragma once

// What the memory checkers are told about the arena's memory, so that they
// see its blocks as they see the C library's: AddressSanitizer through
// poisoning (everything not handed out is poisoned: chunk space not yet cut,
// freed blocks, the word before each block), valgrind's memcheck through a
// memory pool per arena. Where neither is there, every call here is nothing.

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
#endif

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define DOLVIN_VALGRIND 1
#endif

// The arena's own reads and writes of the words it keeps in poisoned memory.
#ifdef DOLVIN_ASAN
#define DOLVIN_NO_ASAN __attribute__((no_sanitize("address")))
#else
#define DOLVIN_NO_ASAN
#endif

namespace memory_checker {

#ifdef DOLVIN_VALGRIND
// Asked once per arena: outside valgrind its requests are skipped.
inline bool& UnderValgrind() {
    static bool under = false;
    return under;
}
#endif

// A new chunk: nothing in it is handed out yet.
inline void NewChunk([[maybe_unused]] void* start, [[maybe_unused]] size_t size) {
#ifdef DOLVIN_ASAN
    ASAN_POISON_MEMORY_REGION(start, size);
#endif
#ifdef DOLVIN_VALGRIND
    if (UnderValgrind()) {
        VALGRIND_MAKE_MEM_NOACCESS(start, size);
    }
#endif
}

inline void ArenaStarts([[maybe_unused]] const void* pool) {
#ifdef DOLVIN_VALGRIND
    UnderValgrind() = RUNNING_ON_VALGRIND != 0;
    if (UnderValgrind()) {
        VALGRIND_CREATE_MEMPOOL(pool, 0, 0);
    }
#endif
}

inline void ArenaEnds([[maybe_unused]] const void* pool) {
#ifdef DOLVIN_VALGRIND
    if (UnderValgrind()) {
        VALGRIND_DESTROY_MEMPOOL(pool);
    }
#endif
}

// A block of size bytes handed out at start; the rest of its slot, up to
// capacity, stays out of reach.
inline void HandedOut([[maybe_unused]] const void* pool, [[maybe_unused]] void* start,
                      [[maybe_unused]] size_t size, [[maybe_unused]] size_t capacity) {
#ifdef DOLVIN_ASAN
    ASAN_UNPOISON_MEMORY_REGION(start, size);
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(start) + size, capacity - size);
#endif
#ifdef DOLVIN_VALGRIND
    if (UnderValgrind()) {
        VALGRIND_MEMPOOL_ALLOC(pool, start, size);
    }
#endif
}

// A block handed out keeps its place and its contents, with a new size.
inline void Resized([[maybe_unused]] const void* pool, [[maybe_unused]] void* start,
                    [[maybe_unused]] size_t oldSize, [[maybe_unused]] size_t size,
                    [[maybe_unused]] size_t capacity) {
#ifdef DOLVIN_ASAN
    ASAN_UNPOISON_MEMORY_REGION(start, size);
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(start) + size, capacity - size);
#endif
#ifdef DOLVIN_VALGRIND
    if (UnderValgrind()) {
        char* bytes = static_cast<char*>(start);
        VALGRIND_MEMPOOL_CHANGE(pool, start, start, size);
        if (size > oldSize) {
            VALGRIND_MAKE_MEM_UNDEFINED(bytes + oldSize, size - oldSize);
        } else {
            VALGRIND_MAKE_MEM_NOACCESS(bytes + size, oldSize - size);
        }
    }
#endif
}

inline void Freed([[maybe_unused]] const void* pool, [[maybe_unused]] void* start,
                  [[maybe_unused]] size_t capacity) {
#ifdef DOLVIN_ASAN
    ASAN_POISON_MEMORY_REGION(start, capacity);
#endif
#ifdef DOLVIN_VALGRIND
    if (UnderValgrind()) {
        VALGRIND_MEMPOOL_FREE(pool, start);
    }
#endif
}

// Around the arena's own use of a word it keeps where blocks are not handed
// out (AddressSanitizer is kept away from those uses by DOLVIN_NO_ASAN).
inline void OpenWord([[maybe_unused]] void* word, [[maybe_unused]] size_t size) {
#ifdef DOLVIN_VALGRIND
    if (UnderValgrind()) {
        VALGRIND_MAKE_MEM_DEFINED(word, size);
    }
#endif
}

inline void CloseWord([[maybe_unused]] void* word, [[maybe_unused]] size_t size) {
#ifdef DOLVIN_VALGRIND
    if (UnderValgrind()) {
        VALGRIND_MAKE_MEM_NOACCESS(word, size);
    }
#endif
}

}  // namespace memory_checker
