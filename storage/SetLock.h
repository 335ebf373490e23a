#pragma once

#include <string>

// Serializes set requests: while one is held, no other set request of any
// process reads or writes either store. It is an exclusive advisory lock on
// the settings file's directory, which exists wherever a set can write at all;
// it needs no file of its own and goes when the process ends, however it ends.
class SetLock {
  public:
    enum class State {
        kHeld,
        kNoDirectory,  // nothing to lock: the set goes on and fails at the settings file
        kBusy,         // another set held the lock for the whole wait
        kFailed,       // the directory could not be opened or locked
    };

    // Waits at most kWaitSeconds for another set to finish. The wait uses no
    // signal, so no signal mask, disposition or pending alarm left by the
    // caller can stretch or shorten it.
    SetLock();
    ~SetLock();
    SetLock(const SetLock&) = delete;
    SetLock& operator=(const SetLock&) = delete;

    State GetState() const { return state_; }
    const std::string& Directory() const { return directory_; }

    static constexpr unsigned kWaitSeconds = 5;

  private:
    std::string directory_;
    int fd_ = -1;
    State state_ = State::kHeld;
};
