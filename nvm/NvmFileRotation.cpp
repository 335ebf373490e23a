#include "nvm/NvmFileRotation.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/Diagnostics.h"
#include "nvm/NvmFiles.h"
#include "storage/DurableFile.h"

namespace {

bool CannotLink(int error) {
    // ENOTSUP and EOPNOTSUPP are one value on Linux, not on every system.
    // NOLINTNEXTLINE(misc-redundant-expression)
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP;
}

// "NVM.xml.bak" becomes the current "NVM.xml" file. A hard link keeps the
// live name in place; where the file system has none, a rename does it and
// movedAway says so.
bool KeepBackup(bool& movedAway) {
    movedAway = false;
    if (link(kNvmFile, kNvmBackupFile) == 0) {
        return true;
    }
    movedAway = CannotLink(errno) && rename(kNvmFile, kNvmBackupFile) == 0;
    return movedAway;
}

}  // namespace

bool RotateNvmFiles() {
    errno = 0;
    // The very first set finds no backup to remove.
    if (unlink(kNvmBackupFile) != 0 && errno != ENOENT) {
        Verbose("SetJOVAccelNVM : could not unlink NVM.xml.bak\n");
        return false;
    }
    bool movedAway = false;
    if (!KeepBackup(movedAway)) {
        Verbose("SetJOVAccelNVM : could not move NVM.xml to NVM.xml.bak\n");
        return false;
    }
    if (rename(kNvmNewFile, kNvmFile) != 0) {
        if (movedAway) {
            // The live document was moved away: bring it back rather than
            // leave the panel without one.
            rename(kNvmBackupFile, kNvmFile);
        }
        Verbose("SetJOVAccelNVM : could not move newNVM.xml to NVM.xml\n");
        return false;
    }
    if (!FlushDirectory(".")) {
        Verbose("SetJOVAccelNVM : could not flush the NVM directory to storage\n");
        return false;
    }
    return true;
}
