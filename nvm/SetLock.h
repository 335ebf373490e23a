#pragma once

// Serializes set requests: while one is held, no other set request of any
// process reads or writes either store. It is an exclusive advisory lock on
// the settings file's directory, which exists wherever a set can write at all;
// it needs no file of its own and goes when the process ends, however it ends.
class SetLock {
  public:
    // Waits at most kWaitSeconds for another set to finish.
    SetLock();
    ~SetLock();
    SetLock(const SetLock&) = delete;
    SetLock& operator=(const SetLock&) = delete;

    // False only when another set held the lock for the whole wait. Where
    // nothing can be locked (the directory is missing), a set goes on and
    // fails at the settings file as before.
    bool Acquired() const { return acquired_; }

    static constexpr unsigned kWaitSeconds = 5;

  private:
    int fd_ = -1;
    bool acquired_ = true;
};
