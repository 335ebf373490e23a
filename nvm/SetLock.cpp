#include "nvm/SetLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common/PanelPaths.h"
#include "settings/DurableFile.h"

namespace {

void IgnoreAlarm(int /*signal*/) {}

// flock() with a deadline: the alarm interrupts the wait (no SA_RESTART).
// False with EINTR when the wait ran out.
bool LockWithin(int fd, unsigned seconds) {
    struct sigaction onAlarm {};
    struct sigaction previous {};
    onAlarm.sa_handler = IgnoreAlarm;
    sigemptyset(&onAlarm.sa_mask);
    sigaction(SIGALRM, &onAlarm, &previous);
    alarm(seconds);
    const bool locked = flock(fd, LOCK_EX) == 0;
    const int error = errno;
    alarm(0);
    sigaction(SIGALRM, &previous, nullptr);
    errno = error;
    return locked;
}

}  // namespace

SetLock::SetLock() {
    const std::string directory = DirectoryOf(PanelPath(kAccelConfPath));
    fd_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        acquired_ = LockWithin(fd_, kWaitSeconds) || errno != EINTR;
    }
}

SetLock::~SetLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}
