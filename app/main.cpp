#include "app/AccelCmd.h"
#include "app/StandardStreams.h"

int main(int argc, char** argv) {
    // First of all, before any file is opened.
    if (!HoldStandardDescriptors()) {
        return 1;
    }
    return RunAccelCmd(argc, argv);
}
