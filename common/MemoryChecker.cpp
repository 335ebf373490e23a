#include "common/MemoryChecker.h"

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define DOLVIN_MEMCHECK 1
#endif

// Without valgrind's header (the panel's build) the flag stays false and
// none of these is called.
namespace memory_checker {

bool underMemcheck = false;

#ifdef DOLVIN_MEMCHECK

void MemcheckArenaStarts(const void* pool) {
    // Only memcheck answers this request, with -1: other tools of valgrind
    // (callgrind say) have no use for the requests.
    char probe = 0;
    underMemcheck = static_cast<long>(VALGRIND_MAKE_MEM_DEFINED(&probe, 1)) == -1;
    if (underMemcheck) {
        VALGRIND_CREATE_MEMPOOL(pool, 0, 0);
    }
}

void MemcheckArenaEnds(const void* pool) {
    VALGRIND_DESTROY_MEMPOOL(pool);
}

void MemcheckNoAccess(void* start, size_t size) {
    VALGRIND_MAKE_MEM_NOACCESS(start, size);
}

void MemcheckDefined(void* start, size_t size) {
    VALGRIND_MAKE_MEM_DEFINED(start, size);
}

void MemcheckHandedOut(const void* pool, void* start, size_t size) {
    VALGRIND_MEMPOOL_ALLOC(pool, start, size);
}

// The pool's record changes; the bytes gained become addressable (their
// contents undefined), those lost inaccessible.
void MemcheckResized(const void* pool, void* start, size_t oldSize, size_t size) {
    char* bytes = static_cast<char*>(start);
    VALGRIND_MEMPOOL_CHANGE(pool, start, start, size);
    if (size > oldSize) {
        VALGRIND_MAKE_MEM_UNDEFINED(bytes + oldSize, size - oldSize);
    } else {
        VALGRIND_MAKE_MEM_NOACCESS(bytes + size, oldSize - size);
    }
}

void MemcheckFreed(const void* pool, void* start) {
    VALGRIND_MEMPOOL_FREE(pool, start);
}

#else

void MemcheckArenaStarts(const void* /*pool*/) {}
void MemcheckArenaEnds(const void* /*pool*/) {}
void MemcheckNoAccess(void* /*start*/, size_t /*size*/) {}
void MemcheckDefined(void* /*start*/, size_t /*size*/) {}
void MemcheckHandedOut(const void* /*pool*/, void* /*start*/, size_t /*size*/) {}
void MemcheckResized(const void* /*pool*/, void* /*start*/, size_t /*oldSize*/, size_t /*size*/) {}
void MemcheckFreed(const void* /*pool*/, void* /*start*/) {}

#endif

}  // namespace memory_checker
