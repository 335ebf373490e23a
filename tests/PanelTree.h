#pragma once

// A throw-away panel file tree and a way to run the real program over it.

#include <string>
#include <vector>

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

inline constexpr char kHealthySettings[] = "true true true true 0.5 \n";
std::string NvmXml(const std::string& sensitivityElement);

class PanelTree {
  public:
    // A healthy panel: thresholds 0 0.5 0.25 0.125, level 1 in both stores.
    PanelTree();
    ~PanelTree();
    PanelTree(const PanelTree&) = delete;
    PanelTree& operator=(const PanelTree&) = delete;

    std::string Settings() const { return root_ + "/usr/ui/uish/etc/accel.conf"; }
    std::string Nvm(const std::string& name = "NVM.xml") const {
        return root_ + "/usr/ui/qel/nvm/defaults/Default/" + name;
    }
    const std::string& Root() const { return root_; }

    // Runs dolvin-sandbox over this tree, from directory cwd (the tree's root
    // when empty), behind the given command prefix (strace, valgrind...) and
    // then the words of $DOLVIN_TEST_WRAPPER, if set.
    RunResult Run(const std::vector<std::string>& args, const std::string& cwd = "",
                  const std::vector<std::string>& prefix = {}) const;

    // Every file below the root, path and content.
    std::string Snapshot() const;

  private:
    std::string base_;
    std::string root_;
};

// True when every run goes through $DOLVIN_TEST_WRAPPER (a checker such as
// valgrind, whose own system calls then show in traces too).
bool Wrapped();
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
