#include "tests/PanelTree.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string PanelConfigXml(const std::string& levels) {
    return "<?xml version=\"1.0\"?>\n<panelConfig><panelHardware><accelCtlr levels=\"" + levels +
           "\"/></panelHardware></panelConfig>\n";
}

std::string NvmXml(const std::string& sensitivityElement) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NVM><UISettings><accelerometerSetting>" +
           sensitivityElement + "</accelerometerSetting><brightness>80</brightness>" +
           "</UISettings></NVM>\n";
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Wrapped() {
    const char* wrapper = std::getenv("DOLVIN_TEST_WRAPPER");
    return wrapper != nullptr && wrapper[0] != '\0';
}

bool Emulated() {
    return DOLVIN_SANDBOX_EMULATOR[0] != '\0';
}

PanelTree::PanelTree() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/dolvin-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    base_ = pattern;
    root_ = base_ + "/root";
    WriteFile(PanelConfig(), PanelConfigXml(kHealthyThresholds));
    WriteFile(Settings(), kHealthySettings);
    WriteFile(Nvm(), NvmXml("<sensitivity>1</sensitivity>"));
}

PanelTree::~PanelTree() {
    std::error_code ignored;
    fs::permissions(base_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(base_, ignored);
}

RunResult PanelTree::Run(const std::vector<std::string>& args, const std::string& cwd,
                         const std::vector<std::string>& prefix) const {
    std::vector<std::string> command = prefix;
    // A checker that every run goes through, e.g. DOLVIN_TEST_WRAPPER="valgrind -q",
    // then, for a cross-built program, its emulator: a tracer in the prefix
    // sees the emulator make the program's system calls.
    const char* checker = std::getenv("DOLVIN_TEST_WRAPPER");
    std::istringstream wrappers(std::string(checker != nullptr ? checker : "") + " " +
                                DOLVIN_SANDBOX_EMULATOR);
    for (std::string word; wrappers >> word;) {
        command.push_back(word);
    }
    command.push_back(DOLVIN_SANDBOX_EXE);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const std::string out = base_ + "/stdout";
    const std::string err = base_ + "/stderr";

    // LeakSanitizer cannot work under a tracer; untraced runs check for leaks.
    const bool traced = std::find(prefix.begin(), prefix.end(), "strace") != prefix.end();
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    const std::string untracedLeaks =
        std::string(sanitizerOptions != nullptr ? sanitizerOptions : "") + ":detect_leaks=0";

    const pid_t child = fork();
    if (child == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr) ||
            chdir(cwd.empty() ? root_.c_str() : cwd.c_str()) != 0 ||
            setenv("DOLVIN_SANDBOX_ROOT", root_.c_str(), 1) != 0 ||
            (traced && setenv("ASAN_OPTIONS", untracedLeaks.c_str(), 1) != 0)) {
            _exit(126);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int wait = 0;
    waitpid(child, &wait, 0);
    const int status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    return {status, ReadFile(out), ReadFile(err)};
}

std::string PanelTree::Snapshot() const {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        const std::string path = entry.path().string().substr(root_.size());
        entries.push_back(entry.is_regular_file() ? path + "=" + ReadFile(entry.path()) : path);
    }
    std::sort(entries.begin(), entries.end());
    std::ostringstream all;
    for (const std::string& entry : entries) {
        all << entry << '\n';
    }
    return all.str();
}
