#include "app/AccelCmd.h"
#include "app/StandardStreams.h"
#include "common/XmlArena.h"

int main(int argc, char** argv) {
    // First of all, before any file is opened.
    if (!HoldStandardDescriptors()) {
        return 1;
    }
    const XmlArena arena;
    return RunAccelCmd(argc, argv);
}
