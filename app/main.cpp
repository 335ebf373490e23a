#include "app/AccelCmd.h"
#include "common/XmlArena.h"

int main(int argc, char** argv) {
    const XmlArena arena;
    return RunAccelCmd(argc, argv);
}
