#include "nvm/NvmFileRotation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/Diagnostics.h"
#include "nvm/NvmFiles.h"
#include "storage/DurableFile.h"
#include "storage/FileDescriptor.h"

namespace {

bool CannotLink(int error) {
    // ENOTSUP and EOPNOTSUPP are one value on Linux, not on every system.
    // NOLINTNEXTLINE(misc-redundant-expression)
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP;
}

// "NVM.xml.bak" becomes the current "NVM.xml" file, read through live: a hard
// link, or a copy of its bytes where the file system has no hard links (vfat),
// so that "NVM.xml" is never moved away.
bool KeepBackup(int live) {
    return link(kNvmFile, kNvmBackupFile) == 0 ||
           (CannotLink(errno) && CopyToNewFile(live, kNvmBackupFile, kNvmHere));
}

}  // namespace

bool RotateNvmFiles() {
    errno = 0;
    // The very first set finds no backup to remove.
    if (unlink(kNvmBackupFile) != 0 && errno != ENOENT) {
        Verbose("SetJOVAccelNVM : could not unlink NVM.xml.bak\n");
        return false;
    }
    // Held open until the new document is on storage (FlushFileToStorage).
    const FileDescriptor live(open(kNvmFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (live.Get() < 0 || !KeepBackup(live.Get())) {
        Verbose("SetJOVAccelNVM : could not move NVM.xml to NVM.xml.bak\n");
        return false;
    }
    if (rename(kNvmNewFile, kNvmFile) != 0) {
        Verbose("SetJOVAccelNVM : could not move newNVM.xml to NVM.xml\n");
        return false;
    }
    if (!FlushFileToStorage(kNvmFile, kNvmHere)) {
        Verbose("SetJOVAccelNVM : could not flush the NVM directory to storage\n");
        return false;
    }
    return true;
}
