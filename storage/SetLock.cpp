#include "storage/SetLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "common/PanelPaths.h"
#include "storage/DurableFile.h"

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr int64_t kRetryNanoseconds = 10000000;  // 10 ms between attempts

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

// Attempts without blocking until the deadline of a monotonic clock, sleeping
// between them: a signal that cuts a sleep short only brings the next attempt
// forward.
SetLock::State LockWithin(int fd, unsigned seconds) {
    const int64_t deadline = MonotonicNanoseconds() + seconds * kNanosecondsPerSecond;
    for (;;) {
        const int64_t left = deadline - MonotonicNanoseconds();
        if (left <= 0) {
            return SetLock::State::kBusy;
        }
        timespec pause{};
        pause.tv_nsec = static_cast<long>(std::min(left, kRetryNanoseconds));
        nanosleep(&pause, nullptr);
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return SetLock::State::kHeld;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return SetLock::State::kFailed;
        }
    }
}

}  // namespace

SetLock::SetLock() : directory_(DirectoryOf(PanelPath(kAccelConfPath))) {
    fd_ = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        state_ = errno == ENOENT ? State::kNoDirectory : State::kFailed;
    } else if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        state_ = errno == EWOULDBLOCK ? LockWithin(fd_, kWaitSeconds) : State::kFailed;
    }
}

SetLock::~SetLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}
