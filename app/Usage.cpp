#include "app/Usage.h"

#include <cstdio>

#include "app/VersionInfo.h"

void PrintUsage() {
    const CVersionInfo version(nullptr);
    std::printf("\ndolvin : get/set Corvel UI panel accelerometer parameter\n");
    std::printf("Version : %s\n\n", version.GetVersionInfo());
    std::printf("dolvin --get|--set [--v] (PARAM)\n");
    std::printf("  --v : verbose output on stderr\n");
    std::printf("  0 <= PARAM <= 3\n\n");
    std::printf("Ex:\n\tdolvin --get\n\tdolvin --set 3\n\tdolvin --get --v\n\n");
}
