#include "common/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "common/GlobalState.h"

// A printf-style interface on purpose: every diagnostic text is a format.
void Verbose(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    if (!bVerbose) {
        return;
    }
    va_list args;
    va_start(args, format);
    // The analyser misses the va_start above.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vfprintf(stderr, format, args);
    va_end(args);
}
