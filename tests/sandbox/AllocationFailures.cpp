// Linked into the test variant only, with the linker wrapping malloc, calloc,
// realloc and xmlInitParser: DOLVIN_FAIL_ALLOCATION=N fails the N-th
// allocation after the XML library was set up, N+ that one and every one
// after it. Counted are the XML library's allocation functions, malloc,
// calloc, realloc and operator new; the count goes to standard error at exit
// (N=0 fails none), so that a test can fail each one in turn.
#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include <cstdio>
#include <cstdlib>
#include <new>

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void __real_xmlInitParser();
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

namespace {

long failAt = 0;
bool failOnward = false;
long counted = -1;  // not counting yet

bool Refused() {
    if (counted < 0) {
        return false;
    }
    ++counted;
    return failAt > 0 && (counted == failAt || (failOnward && counted > failAt));
}

xmlFreeFunc libraryFree;
xmlMallocFunc libraryMalloc;
xmlReallocFunc libraryRealloc;
xmlStrdupFunc libraryStrdup;

void* CountedMalloc(size_t size) {
    return Refused() ? nullptr : libraryMalloc(size);
}
void* CountedRealloc(void* block, size_t size) {
    return Refused() ? nullptr : libraryRealloc(block, size);
}
char* CountedStrdup(const char* text) {
    return Refused() ? nullptr : libraryStrdup(text);
}

void ReportCount() {
    std::fprintf(stderr, "dolvin-sandbox: %ld allocations\n", counted);
}

}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void* __wrap_malloc(size_t size) {
    return Refused() ? nullptr : __real_malloc(size);
}

extern "C" void* __wrap_calloc(size_t count, size_t size) {
    return Refused() ? nullptr : __real_calloc(count, size);
}

extern "C" void* __wrap_realloc(void* block, size_t size) {
    return Refused() ? nullptr : __real_realloc(block, size);
}

// Counting functions go in front of the library's own allocation functions.
extern "C" void __wrap_xmlInitParser() {
    __real_xmlInitParser();
    const char* setting = std::getenv("DOLVIN_FAIL_ALLOCATION");
    if (setting == nullptr || counted >= 0) {
        return;
    }
    char* end = nullptr;
    failAt = std::strtol(setting, &end, 10);
    failOnward = *end == '+';
    xmlMemGet(&libraryFree, &libraryMalloc, &libraryRealloc, &libraryStrdup);
    xmlMemSetup(libraryFree, CountedMalloc, CountedRealloc, CountedStrdup);
    std::atexit(ReportCount);
    counted = 0;
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

void* operator new(size_t size) {
    void* block = Refused() ? nullptr : __real_malloc(size > 0 ? size : 1);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void* operator new[](size_t size) {
    return operator new(size);
}

// The blocks come from malloc: the C library releases them.
void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, size_t /*size*/) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block, size_t /*size*/) noexcept {
    std::free(block);
}
