// Linked into the test variant only: the fixed locations move below the
// directory named by DOLVIN_SANDBOX_ROOT, so tests never touch the host's own.
// Nothing is allocated, so that a test failing allocations fails the
// program's own.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/PanelPaths.h"

const char* PanelPath(const char* fixedPath) {
    struct Resolved {
        const char* fixed;
        char path[PATH_MAX];
    };
    static Resolved resolved[3];
    const char* root = std::getenv("DOLVIN_SANDBOX_ROOT");
    if (root == nullptr || root[0] != '/') {
        std::fputs("DOLVIN_SANDBOX_ROOT must name an absolute directory\n", stderr);
        std::_Exit(2);
    }
    for (Resolved& entry : resolved) {
        if (entry.fixed == nullptr || std::strcmp(entry.fixed, fixedPath) == 0) {
            entry.fixed = fixedPath;
            std::snprintf(entry.path, sizeof entry.path, "%s%s", root, fixedPath);
            return entry.path;
        }
    }
    std::_Exit(2);
}
