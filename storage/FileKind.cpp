#include "storage/FileKind.h"

#include <sys/stat.h>

bool IsPipeOrDevice(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}
