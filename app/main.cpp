#include "app/AccelCmd.h"

int main(int argc, char** argv) {
    return RunAccelCmd(argc, argv);
}
