#include "PanelTree.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Mounts made by this test process stay its own.
bool OwnMountNamespace() {
    static const bool own = unshare(CLONE_NEWNS) == 0 &&
                            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return own;
}

}  // namespace

PanelTree::PanelTree(bool ownFileSystem) {
    const char* tmp = std::getenv("TMPDIR");
    base_ = std::string(tmp != nullptr ? tmp : "/tmp") + "/dolvin-test-XXXXXX";
    if (mkdtemp(base_.data()) == nullptr) {
        std::abort();
    }
    root_ = base_ + "/root";
    fs::create_directories(root_);
    mounted_ = ownFileSystem && OwnMountNamespace() &&
               mount("tmpfs", root_.c_str(), "tmpfs", 0, "size=64m") == 0;
    WriteFile(PanelConfig(),
              "<?xml version=\"1.0\"?>\n<panelConfig><panelHardware><accelCtlr "
              "levels=\"0.0 0.5 0.25 0.125\"/></panelHardware></panelConfig>\n");
    WriteFile(Settings(), "true true true true 0.5 \n");
    WriteFile(Nvm(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NVM><UISettings>"
              "<accelerometerSetting><sensitivity>1</sensitivity>"
              "</accelerometerSetting><brightness>80</brightness></UISettings></NVM>\n");
}

PanelTree::~PanelTree() {
    if (mounted_) {
        umount2(root_.c_str(), MNT_DETACH);
    }
    std::error_code ignored;
    fs::remove_all(base_, ignored);
}

RunResult PanelTree::Run(const Words& args, const std::string& cwd, const Words& prefix) const {
    // LeakSanitizer cannot work under a tracer; untraced runs check for leaks.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const bool traced = std::find(prefix.begin(), prefix.end(), "strace") != prefix.end();
    Words command = {"env", "-C", cwd.empty() ? root_ : cwd, "DOLVIN_SANDBOX_ROOT=" + root_,
                     std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                         (traced ? ":detect_leaks=0" : "")};
    command.insert(command.end(), prefix.begin(), prefix.end());
    const char* checker = std::getenv("DOLVIN_TEST_WRAPPER");
    std::istringstream wrappers(std::string(checker != nullptr ? checker : "") + " " +
                                DOLVIN_SANDBOX_EMULATOR + " " + DOLVIN_SANDBOX_EXE);
    command.insert(command.end(), std::istream_iterator<std::string>(wrappers), {});
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // Output files of this run's own: runs from several threads may overlap.
    static std::atomic<int> runs = 0;
    const std::string out = base_ + "/out." + std::to_string(++runs);
    const pid_t child = fork();
    if (child == 0) {
        if (freopen(out.c_str(), "w", stdout) != nullptr &&
            freopen((out + ".err").c_str(), "w", stderr) != nullptr) {
            execvp(argv[0], argv.data());
        }
        _exit(127);
    }
    int wait = 0;
    waitpid(child, &wait, 0);
    RunResult result = {WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait), ReadFile(out),
                        ReadFile(out + ".err")};
    fs::remove(out);
    fs::remove(out + ".err");
    return result;
}

std::string PanelTree::Snapshot() const {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        std::error_code loop;  // a link to itself is no file
        const std::string path = entry.path().string().substr(root_.size());
        entries.insert(entry.is_regular_file(loop) ? path + "=" + ReadFile(entry.path()) : path);
    }
    std::string all;
    for (const std::string& entry : entries) {
        all += entry + "\n";
    }
    return all;
}

bool PanelTree::LeaveFree(size_t bytes) const {
    struct statfs used {};
    if (!mounted_ || statfs(root_.c_str(), &used) != 0) {
        return false;
    }
    const size_t size = (used.f_blocks - used.f_bfree) * used.f_bsize + bytes;
    return mount("tmpfs", root_.c_str(), "tmpfs", MS_REMOUNT,
                 ("size=" + std::to_string(size)).c_str()) == 0;
}
