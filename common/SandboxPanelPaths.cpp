// Linked into the test variant only: the fixed locations move below the
// directory named by DOLVIN_SANDBOX_ROOT, so tests never touch the host's own.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "common/PanelPaths.h"

const char* PanelPath(const char* fixedPath) {
    static std::map<std::string, std::string> resolved;
    const char* root = std::getenv("DOLVIN_SANDBOX_ROOT");
    if (root == nullptr || root[0] != '/') {
        std::fputs("DOLVIN_SANDBOX_ROOT must name an absolute directory\n", stderr);
        std::_Exit(2);
    }
    std::string& path = resolved[fixedPath];
    if (path.empty()) {
        path = std::string(root) + fixedPath;
    }
    return path.c_str();
}
