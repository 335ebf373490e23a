#pragma once

// A throw-away panel below a directory of its own, and the runs of the real
// program (dolvin-sandbox) over it.
#include <cstdlib>
#include <string>

#include "CaseTables.h"
#include "common/PanelPaths.h"

// Whether every run goes through $DOLVIN_TEST_WRAPPER (a checker such as
// valgrind, whose own system calls then show in traces too).
inline const bool kWrapped =
    std::getenv("DOLVIN_TEST_WRAPPER") != nullptr && std::getenv("DOLVIN_TEST_WRAPPER")[0] != '\0';
// Whether DOLVIN_LONG_TESTS=1 asks for the long cases and loops.
inline const bool kLongTests = std::getenv("DOLVIN_LONG_TESTS") != nullptr &&
                               std::string(std::getenv("DOLVIN_LONG_TESTS")) == "1";

struct RunResult {
    int status;  // the exit status, or 128 + the signal that ended the run
    std::string out;
    std::string err;
};

// A healthy panel: thresholds 0 0.5 0.25 0.125, level 1 in both stores. With
// ownFileSystem, on a file system of its own (a tmpfs in a mount namespace of
// the test's own), which LeaveFree can make nearly full.
class PanelTree {
  public:
    explicit PanelTree(bool ownFileSystem = false);
    ~PanelTree();
    PanelTree(const PanelTree&) = delete;
    PanelTree& operator=(const PanelTree&) = delete;

    std::string PanelConfig() const { return root_ + kPanelConfigPath; }
    std::string Settings() const { return root_ + kAccelConfPath; }
    std::string Nvm(const std::string& name = "NVM.xml") const {
        return root_ + kNvmDirectory + (name.empty() ? "" : "/" + name);
    }
    const std::string& Root() const { return root_; }

    // Runs dolvin-sandbox from directory cwd (the root when empty), behind the
    // prefix (strace...), then $DOLVIN_TEST_WRAPPER and, for a cross-built
    // program, its emulator: a tracer in the prefix sees the emulator make the
    // program's system calls.
    RunResult Run(const Words& args, const std::string& cwd = "", const Words& prefix = {}) const;

    // Every file below the root, path and content.
    std::string Snapshot() const;

    // Shrinks the tree's own file system to leave bytes free beside what it
    // holds. False where mounting is not permitted.
    bool LeaveFree(size_t bytes) const;

  private:
    std::string base_;
    std::string root_;
    bool mounted_ = false;
};
