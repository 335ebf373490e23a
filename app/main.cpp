#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/AccelCmd.h"

namespace {

// Makes sure descriptors 0, 1 and 2 are open before the program opens any
// file. A standard stream that the caller left closed is held on /dev/null,
// opened so that the stream cannot be used for its purpose (read-only for
// output, write-only for input): its reads and writes still fail, as on a
// closed descriptor, and no file dolvin opens (a store among them) can take
// its number and receive the output meant for the stream. False when one
// could not be held.
bool HoldStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lower ones are open, so the lowest free descriptor is this one.
        if (open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) != fd) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // First of all, before any file is opened.
    if (!HoldStandardDescriptors()) {
        return 1;
    }
    return RunAccelCmd(argc, argv);
}
