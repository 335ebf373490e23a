#include "common/Diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "common/GlobalState.h"

void Verbose(const char* format, ...) {
    if (!bVerbose) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}
