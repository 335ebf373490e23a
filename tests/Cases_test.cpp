// The real program over the cases of tests/cases/*.txt (format: README.md
// there), each on a throw-away panel tree. Every run is bounded in time and
// memory and traced: it opens nothing of the test's files but the panel's
// own, never a catalog or the network, and a run that printed the usage
// opened nothing of the panel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <map>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using Words = std::vector<std::string>;
using Defs = std::map<std::string, std::string>;

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The words from from on, joined.
std::string Joined(const Words& w, size_t from) {
    return std::accumulate(w.begin() + static_cast<long>(std::min(from, w.size())), w.end(),
                           std::string());
}

// Whether every run goes through $DOLVIN_TEST_WRAPPER (a checker such as
// valgrind, whose own system calls then show in traces too).
const bool kWrapped =
    std::getenv("DOLVIN_TEST_WRAPPER") != nullptr && std::getenv("DOLVIN_TEST_WRAPPER")[0] != '\0';
const bool kLongTests = std::getenv("DOLVIN_LONG_TESTS") != nullptr &&
                        std::string(std::getenv("DOLVIN_LONG_TESTS")) == "1";

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// A healthy panel below a directory of its own: thresholds 0 0.5 0.25 0.125,
// level 1 in both stores.
class PanelTree {
  public:
    PanelTree() {
        const char* tmp = std::getenv("TMPDIR");
        base_ = std::string(tmp != nullptr ? tmp : "/tmp") + "/dolvin-test-XXXXXX";
        if (mkdtemp(base_.data()) == nullptr) {
            std::abort();
        }
        root_ = base_ + "/root";
        WriteFile(root_ + "/uish/panel_config.xml",
                  "<?xml version=\"1.0\"?>\n<panelConfig><panelHardware><accelCtlr "
                  "levels=\"0.0 0.5 0.25 0.125\"/></panelHardware></panelConfig>\n");
        WriteFile(Settings(), "true true true true 0.5 \n");
        WriteFile(Nvm(),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NVM><UISettings>"
                  "<accelerometerSetting><sensitivity>1</sensitivity>"
                  "</accelerometerSetting><brightness>80</brightness></UISettings></NVM>\n");
    }
    ~PanelTree() {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }
    PanelTree(const PanelTree&) = delete;
    PanelTree& operator=(const PanelTree&) = delete;

    std::string Settings() const { return root_ + "/usr/ui/uish/etc/accel.conf"; }
    std::string Nvm(const std::string& name = "NVM.xml") const {
        return root_ + "/usr/ui/qel/nvm/defaults/Default/" + name;
    }
    const std::string& Root() const { return root_; }

    // Runs dolvin-sandbox from directory cwd (the root when empty), behind the
    // prefix (strace...), then $DOLVIN_TEST_WRAPPER and, for a cross-built
    // program, its emulator: a tracer in the prefix sees the emulator make the
    // program's system calls.
    RunResult Run(const Words& args, const std::string& cwd = "", const Words& prefix = {}) const {
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
        RunResult result = {WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait),
                            ReadFile(out), ReadFile(out + ".err")};
        fs::remove(out);
        fs::remove(out + ".err");
        return result;
    }

    // Every file below the root, path and content.
    std::string Snapshot() const {
        std::set<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            std::error_code loop;  // a link to itself is no file
            const std::string path = entry.path().string().substr(root_.size());
            entries.insert(entry.is_regular_file(loop) ? path + "=" + ReadFile(entry.path())
                                                       : path);
        }
        std::string all;
        for (const std::string& entry : entries) {
            all += entry + "\n";
        }
        return all;
    }

  private:
    std::string base_;
    std::string root_;
};

// One system call of a run, read back from an strace log written with
// "-f -y" (descriptors shown with their paths).
struct Syscall {
    std::string name;
    int nth;             // among the calls of this name, from 1, as strace's when= counts
    std::string args;    // as strace shows them
    std::string result;  // "0", "-1 ENOENT (...)", "3</path>"
    std::string cwd;     // the working directory when it was made

    bool Failed() const { return result.rfind("-1", 0) == 0; }

    // The path of the descriptor in the first argument, or of the one returned.
    std::string FdPath(bool returned = false) const {
        std::smatch match;
        const bool found =
            std::regex_search(returned ? result : args, match, std::regex("^[0-9]+<([^>]*)>"));
        return found ? match[1].str() : "";
    }

    // The path in the index-th quoted argument, made absolute; "" if none.
    std::string Path(int index = 0) const {
        // A quoted first argument is a path (not written data) in calls on names.
        if (args.rfind('"', 0) != 0 && args.rfind("AT_FDCWD", 0) != 0) {
            return "";
        }
        std::string rest = args;
        std::smatch match;
        for (int skipped = 0; std::regex_search(rest, match, std::regex("\"([^\"]*)\""));
             ++skipped) {
            const std::string path = match[1];
            if (skipped == index) {
                return path.empty() || path[0] == '/' ? path : path == "." ? cwd : cwd + "/" + path;
            }
            rest = match.suffix();
        }
        return "";
    }

    // Whether the call names a path or descriptor below directory.
    bool Below(const std::string& directory) const {
        for (const std::string& path : {Path(0), Path(1), FdPath(), FdPath(true)}) {
            if (path.rfind(directory + "/", 0) == 0) {
                return true;
            }
        }
        return false;
    }
};

// The calls of a run that started in directory cwd.
std::vector<Syscall> ReadTrace(const std::string& traceFile, const std::string& cwd) {
    std::vector<Syscall> calls;
    std::map<std::string, int> seen;
    std::ifstream in(traceFile);
    // "PID  name(args) = result", results aligned; signals and exits do not match.
    const std::regex call(R"(^\d+ +(\w+)\((.*)\) *= (.*)$)");
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, match, call) && line.find("resumed>") == std::string::npos) {
            calls.push_back({match[1], ++seen[match[1]], match[2], match[3],
                             calls.empty() ? cwd : calls.back().cwd});
            if (calls.back().name == "chdir" && !calls.back().Failed()) {
                calls.back().cwd = calls.back().Path();
            }
        }
    }
    return calls;
}

// A case as written: its lines, after the defs of its file. Words are made
// only when the case runs: some are many megabytes.
struct Case {
    std::string name;
    std::vector<std::string> lines;
};

// One word: "C-escaped"*N, @fixture, bare; $name in it takes a def's value.
std::string Word(std::istream& in, const Defs& defs) {
    std::string word;
    if (in.peek() == '"') {
        in.get();
        for (char c = 0; in.get(c) && c != '"'; word += c) {
            if (c == '\\' && in.get(c)) {
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
            }
        }
        long times = 1;
        if (in.peek() == '*' && in.get() && in >> times) {
            for (const std::string once = word; --times > 0;) {
                word += once;
            }
        }
    } else if (in >> word && word[0] == '@') {
        return ReadFile(std::string(DOLVIN_TEST_DATA) + "/" + word.substr(1));
    }
    for (auto def = defs.rbegin(); def != defs.rend(); ++def) {  // longer names first
        word = Replaced(word, "$" + def->first, def->second);
    }
    return word;
}

std::vector<Case> LoadCases() {
    std::vector<Case> cases;
    for (const auto& file : fs::directory_iterator(DOLVIN_TEST_CASES)) {
        std::ifstream in(file.path().extension() == ".txt" ? file.path() : "");
        std::vector<std::string> defs;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("def ", 0) == 0) {
                defs.push_back(line);
            } else if (line.rfind("case ", 0) == 0) {
                cases.push_back({file.path().stem().string() + "." + line.substr(5), defs});
            } else if (!line.empty() && line[0] != '#') {
                cases.back().lines.push_back(line);
            }
        }
    }
    return cases;
}

// A command prefix that runs the program in a mount namespace of its own
// where dataFile is bind-mounted over the settings file, in its directory made
// read-only if asked: a panel with a read-only root file system.
Words MountedSettingsFile(const std::string& settingsFile, const std::string& dataFile,
                          bool readOnlyDirectory) {
    std::string script = R"(mount --bind "$2" "$3" && shift 3 && exec "$@")";
    if (readOnlyDirectory) {
        script = R"(mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && )" + script;
    }
    const std::string directory = settingsFile.substr(0, settingsFile.rfind('/'));
    return {"unshare", "--mount", "--propagation", "private", "sh",        "-c",
            script,    "sh",      directory,       dataFile,  settingsFile};
}

// The state-changing calls under every name the C library issues them by,
// with the errors injected into them (the long run adds the second list).
struct Kind {
    Words names;
    Words errors;
    Words moreErrors;
};
enum { kOpen, kWrite, kFlush, kClose, kRename };
const Kind kKinds[] = {
    {{"open", "openat", "creat"}, {"ENOSPC", "EIO", "EROFS", "EACCES"}, {"EDQUOT", "EMFILE"}},
    {{"write", "writev", "pwrite64", "ftruncate"}, {"ENOSPC", "EIO"}, {"EDQUOT", "EFBIG", "EINTR"}},
    {{"fsync", "fdatasync"}, {"EIO", "ENOSPC"}, {"EROFS", "EDQUOT", "EINTR"}},
    {{"close"}, {"EIO", "ENOSPC"}, {"EINTR", "EDQUOT"}},
    {{"rename", "renameat", "renameat2"}, {"ENOSPC", "EIO", "EROFS", "EACCES"}, {"EBUSY", "EPERM"}},
    {{"link", "linkat"}, {"ENOSPC", "EIO", "EROFS", "EACCES"}, {"EPERM", "EMLINK", "EDQUOT"}},
    {{"unlink", "unlinkat"}, {"EIO", "EROFS", "EACCES"}, {"EBUSY", "EPERM", "ENOSPC"}},
    {{"chdir", "fchdir"}, {"EIO", "EACCES"}, {"ENOENT", "ELOOP"}},
    {{"fchmod", "fchown"}, {"EIO", "EROFS"}, {"EPERM"}},
};

const Kind* KindOf(const std::string& name) {
    for (const Kind& kind : kKinds) {
        if (std::find(kind.names.begin(), kind.names.end(), name) != kind.names.end()) {
            return &kind;
        }
    }
    return nullptr;
}

class CaseRun {
  public:
    // Plays the case's lines up to the first fault loop, or upTo; returns
    // where it stopped.
    size_t Play(const Case& c, size_t upTo = SIZE_MAX) {
        Defs defs = {{"panel", "ROOT/uish/panel_config.xml"},
                     {"conf", "ROOT/usr/ui/uish/etc/accel.conf"},
                     {"nvm", "ROOT/usr/ui/qel/nvm/defaults/Default"}};
        size_t index = 0;
        for (; index < std::min(upTo, c.lines.size()); ++index) {
            const std::string& text = c.lines[index];
            SCOPED_TRACE(text.substr(0, 100));
            std::istringstream line(text);
            std::string key;
            Words w;
            for (line >> key >> std::ws; line && !line.eof(); line >> std::ws) {
                w.push_back(Replaced(Word(line, defs), "ROOT", tree_.Root()));
            }
            if (key == "faults" || key == "crashes") {
                break;
            }
            if (key == "def") {
                defs[w[0]] = Joined(w, 1);
            } else {
                Do(key, w, w.empty() ? "" : Path(w[0]), Joined(w, 1));
            }
            if (testing::Test::HasFatalFailure() || testing::Test::IsSkipped()) {
                return c.lines.size();
            }
        }
        return index;
    }

    // The command prefix of a run traced into trace (read by ReadTrace), with
    // the case's own strace words and the given ones.
    Words Traced(const std::string& trace, const Words& more = {}, const Words& limits = {}) const {
        Words prefix = mount_;
        const Words strace = {"strace", "-f", "-qq", "-y", "-s", "64", "-o", trace};
        for (const Words& words : {limits, strace, strace_, more}) {
            prefix.insert(prefix.end(), words.begin(), words.end());
        }
        return prefix;
    }

    // The settings file, or what is mounted over it, and the NVM document.
    std::array<std::string, 2> Stores() const {
        return {ReadFile(settings_), Exists(tree_.Nvm()) ? ReadFile(tree_.Nvm()) : "(none)"};
    }

    PanelTree tree_;
    std::string settings_ = tree_.Settings();
    Words strace_;

    ~CaseRun() {
        if (lock_ >= 0) {
            close(lock_);
        }
    }

  private:
    std::string Path(const std::string& word) const {
        return word[0] == '/' ? word : tree_.Root() + "/" + word;
    }

    void Do(const std::string& key, const Words& w, const std::string& path,
            const std::string& text) {
        struct stat info {};
        if (key == "file" || key == "rm" || key == "mkdir" || key == "fifo" || key == "symlink" ||
            key == "hardlink") {
            fs::remove_all(path);
            fs::create_directories(fs::path(path).parent_path());
        }
        if (key == "rm") {
            return;  // removed above
        }
        if (key == "fails" || key == "usage") {  // and then as err-end or out
            EXPECT_EQ(run_.status, 1) << run_.err.substr(0, 2000);
        }
        if (key == "file") {
            WriteFile(path, text);
        } else if (key == "mkdir") {
            fs::create_directories(path);
        } else if (key == "fifo") {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        } else if (key == "symlink") {
            fs::create_symlink(w[1], path);
        } else if (key == "hardlink") {
            fs::create_hard_link(Path(w[1]), path);
        } else if (key == "chmod") {
            ASSERT_EQ(chmod(path.c_str(), std::stoul(w[1], nullptr, 8)), 0);
        } else if (key == "chown") {
            ASSERT_EQ(lchown(path.c_str(), std::stoul(w[1]), std::stoul(w[2])), 0);
        } else if (key == "stamp") {
            const auto seconds = static_cast<time_t>(std::stoll(w[1]));  // past 2038
            const timespec times[2] = {{seconds, 0}, {seconds, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        } else if (key == "cwd") {
            cwd_ = path;
        } else if (key == "strace") {  // for the next run; for every one of a loop
            strace_ = w;
        } else if (key == "lock") {  // held by this test until the case ends
            lock_ = open(path.c_str(), O_RDONLY);
            ASSERT_EQ(flock(lock_, LOCK_EX), 0);
        } else if (key == "mount") {  // w[0] over the settings file; "ro": directory read-only
            // Where mounts are not permitted (no root), "true" passes over the program.
            static const bool permitted =
                PanelTree().Run({}, "", {"unshare", "--mount", "true"}).status == 0;
            if (!permitted) {
                GTEST_SKIP() << "mounting is not permitted here";
            }
            mount_ = MountedSettingsFile(tree_.Settings(), path, w.size() > 1);
            settings_ = path;
        } else if (key == "long") {
            if (!kLongTests) {
                GTEST_SKIP() << "DOLVIN_LONG_TESTS=1 runs this";
            }
        } else if (key == "run") {
            Run(w);
        } else if (key == "concurrent") {
            Concurrent(std::stoi(w[0]), Words(w.begin() + 1, w.end()));
        } else if (key == "status") {
            EXPECT_EQ(run_.status, std::stoi(w[0])) << run_.err.substr(0, 2000);
        } else if (key == "out" || key == "usage") {
            // The usage shows when the program was built.
            const std::regex stamp(R"(\(\w{3} [ \d]\d \d{4} \d\d:\d\d:\d\d\) )");
            EXPECT_EQ(std::regex_replace(run_.out, stamp, "(STAMP) "),
                      key == "out" ? Joined(w, 0) : ReadFile(DOLVIN_TEST_DATA "/usage.txt"));
        } else if (key == "err" || key == "err-start" || key == "err-end" || key == "fails") {
            const std::string part = Joined(w, 0);
            const std::string& err = run_.err;
            EXPECT_TRUE(key == "err"         ? err == part
                        : key == "err-start" ? err.rfind(part, 0) == 0
                                             : err.size() >= part.size() &&
                                                   err.substr(err.size() - part.size()) == part)
                << err.substr(0, 2000);
        } else if (key == "expect") {
            EXPECT_EQ(Exists(path) ? ReadFile(path) : "(none)", w.size() > 1 ? text : "(none)")
                << path;
        } else if (key == "has") {
            EXPECT_NE(ReadFile(path).find(text), std::string::npos) << path;
        } else if (key == "same") {
            EXPECT_EQ(tree_.Snapshot(), before_);
        } else if (key == "owner" || key == "inode") {  // owner PATH MODE UID GID; inode PATH
            ASSERT_EQ(stat(path.c_str(), &info), 0);
            const std::string seen = key == "inode" ? std::to_string(info.st_ino)
                                                    : std::to_string(info.st_mode & 07777) + " " +
                                                          std::to_string(info.st_uid) + " " +
                                                          std::to_string(info.st_gid);
            const std::string expected =
                key == "inode"
                    ? inodes_.emplace(path, seen).first->second
                    : std::to_string(std::stoul(w[1], nullptr, 8)) + " " + w[2] + " " + w[3];
            EXPECT_EQ(seen, expected) << key << " of " << path;
        } else {
            FAIL() << "unknown key";
        }
    }

    void Run(const Words& args) {
        if (before_.empty()) {
            before_ = tree_.Snapshot();
        }
        const std::string trace = tree_.Root() + "/../trace";
        // Not traced: calls with data in their first argument (getrandom).
        run_ = tree_.Run(args, cwd_, Traced(trace, {"-e", "trace=%file,%network,%desc"}, Limits()));
        strace_.clear();
        // Below the test's directory only the panel's own files and the
        // working directory; no catalog anywhere. A checker such as valgrind
        // opens files of its own, in the working directory too.
        const bool usage = run_.out.rfind("\ndolvin : ", 0) == 0;
        const std::string base = tree_.Root().substr(0, tree_.Root().rfind('/'));
        const std::string cwd = cwd_.empty() ? tree_.Root() : cwd_;
        for (const Syscall& call : ReadTrace(trace, cwd)) {
            const bool network = call.name == "socket" || call.name == "connect";
            const std::string path = network ? "network" : call.Path();
            const bool own = path.rfind(base, 0) != 0 || path == cwd ||
                             path.rfind(tree_.Root() + "/uish/", 0) == 0 ||
                             path.rfind(tree_.Root() + "/usr/ui/", 0) == 0;
            EXPECT_TRUE(kWrapped || (own && !network && !(usage && path.rfind(base, 0) == 0) &&
                                     path.find("catalog") == std::string::npos))
                << "opened " << path;
        }
    }

    // Each command line (separated by "/") in a loop of its own for seconds,
    // all at once, while the stores are read every 2 ms: each always holds
    // what one of the command lines leaves when run alone, every run
    // succeeds, and at the end both stores hold the result of the same one.
    void Concurrent(int seconds, const Words& w) {
        std::vector<Words> commands(1);
        for (const std::string& word : w) {
            if (word == "/") {
                commands.emplace_back();
            } else {
                commands.back().push_back(word);
            }
        }
        std::set<std::array<std::string, 2>> results = {Stores()};
        for (const Words& args : commands) {
            tree_.Run(args);
            results.insert(Stores());
        }
        std::array<std::set<std::string>, 2> whole;
        for (const auto& [settings, nvm] : results) {
            whole[0].insert(settings);
            whole[1].insert(nvm);
        }
        const Words loop = {"bash", "-c",
                            R"(end=$1 runs=0 failed=0; shift; while [ $SECONDS -lt $end ]; do
               out=$("$@") || failed=$((failed + 1));
               [[ $out =~ ^([0-3]|xpath\ returned\ 1\ nodes)$ ]] || failed=$((failed + 1));
               runs=$((runs + 1)); done; echo "$runs runs, $failed failed")",
                            "loop", std::to_string(seconds)};
        std::vector<std::future<RunResult>> workers;
        for (const Words& args : commands) {
            workers.push_back(std::async(
                std::launch::async, [this, &loop, args] { return tree_.Run(args, "", loop); }));
        }
        int moments = 0;
        for (; workers[0].wait_for(std::chrono::milliseconds(2)) != std::future_status::ready &&
               !testing::Test::HasFailure();
             ++moments) {
            const auto stores = Stores();
            EXPECT_EQ(whole[0].count(stores[0]), 1U) << stores[0];
            EXPECT_EQ(whole[1].count(stores[1]), 1U) << stores[1];
        }
        for (auto& worker : workers) {
            const std::string out = worker.get().out;
            std::cout << "[ concurrency ] " << out;
            EXPECT_NE(out.find(" 0 failed"), std::string::npos);
        }
        std::cout << "[ concurrency ] " << moments << " moments checked" << std::endl;
        EXPECT_EQ(results.count(Stores()), 1U);
    }

    // A time limit and, where no sanitizer or checker needs a large address
    // space, a memory limit.
    static Words Limits() {
        Words prefix = {"timeout", "-s", "KILL", kWrapped ? "600" : "60"};
#ifndef __SANITIZE_ADDRESS__
        if (!kWrapped) {  // the emulator bounds the program to 1 GiB itself and needs more
            prefix.insert(
                prefix.end(),
                {"prlimit",
                 DOLVIN_SANDBOX_EMULATOR[0] != '\0' ? "--as=2147483648" : "--as=1073741824", "--"});
        }
#endif
        return prefix;
    }

    RunResult run_{};
    std::string before_;
    std::string cwd_;
    Words mount_;
    std::map<std::string, std::string> inodes_;
    int lock_ = -1;
};
// A file made live by a rename, or rewritten in place, was flushed after its
// last write (and so before the rename); every change of a directory's
// entries was flushed after it.
void CheckDurabilityOrder(const std::vector<Syscall>& calls, const PanelTree& tree) {
    std::map<std::string, size_t> lastWrite;
    std::map<std::string, size_t> lastFlush;
    std::map<std::string, size_t> lastEntryChange;  // per directory
    std::set<std::string> written = {tree.Settings()};
    for (size_t index = 0; index < calls.size(); ++index) {
        const Syscall& call = calls[index];
        const Kind* kind = KindOf(call.name);
        if (call.Failed() || !call.Below(tree.Root()) || kind == nullptr) {
            continue;  // a checker's own files, under valgrind say
        }
        const std::string target = call.Path(call.name.rfind("unlink", 0) == 0 ? 0 : 1);
        if (kind == &kKinds[kWrite]) {
            lastWrite[call.FdPath()] = index;
        } else if (kind == &kKinds[kFlush]) {
            lastFlush[call.FdPath()] = index;
        } else if (kind >= &kKinds[kRename] && kind <= &kKinds[kRename + 2]) {
            lastEntryChange[target.substr(0, target.rfind('/'))] = index;
            if (kind == &kKinds[kRename]) {
                written.insert(call.Path());
            }
        }
    }
    EXPECT_GT(lastWrite.count(tree.Settings()) + written.count(tree.Settings() + ".tmp"), 0U);
    EXPECT_GT(written.count(tree.Nvm("newNVM.xml")), 0U);
    for (const std::string& file : written) {
        EXPECT_TRUE(lastWrite.count(file) == 0 || lastFlush[file] > lastWrite[file])
            << file << " not flushed";
    }
    for (const auto& [directory, change] : lastEntryChange) {
        EXPECT_GT(lastFlush[directory], change)
            << directory << " not flushed after " << calls[change].name;
    }
}

// "faults ARGS" and "crashes ARGS": the lines of the case before it lay a
// panel, and a healthy run of ARGS there shows the state-changing system
// calls. Each fails in turn with each error of its kind, or the run is killed
// just before it or just after it takes effect. Both stores must stay whole
// and the next run must complete the set. The healthy run's trace also shows
// the order in which the set reaches storage.
class FaultLoop {
  public:
    // The loop of line line, over the panel that the lines before at lay.
    FaultLoop(const Case& c, size_t at, const std::string& line) : case_(c), at_(at) {
        std::istringstream words(line);
        words >> kind_;
        args_.assign(std::istream_iterator<std::string>(words), {});
    }

    void Discover(bool everyCall) {
        CaseRun healthy;
        healthy.Play(case_, at_);
        before_ = healthy.Stores();
        const std::string trace = healthy.tree_.Root() + "/../trace";
        ASSERT_EQ(healthy.tree_.Run(args_, "", healthy.Traced(trace)).status, 0);
        after_ = healthy.Stores();
        alwaysFails_ = Joined(healthy.strace_, 0);
        const std::vector<Syscall> calls = ReadTrace(trace, healthy.tree_.Root());
        CheckDurabilityOrder(calls, healthy.tree_);
        const std::string& root = healthy.tree_.Root();
        const std::string base = root.substr(0, root.rfind('/'));  // with the output files
        std::set<std::string> dirty;  // written or flushed since opened
        bool inTree = false;
        for (size_t index = 0; index + 1 < calls.size(); ++index) {
            const Syscall& call = calls[index];
            inTree = inTree || call.Below(healthy.tree_.Root());
            const Kind* kind = KindOf(call.name);
            // The program's own calls only, not those of a sanitizer or checker.
            bool step = kind != nullptr && call.Below(base) &&
                        alwaysFails_.find(call.name) == std::string::npos;
            if (kind == &kKinds[kOpen]) {
                step = step && call.args.find("O_RDONLY") == std::string::npos;
                dirty.erase(call.FdPath(true));
            } else if (kind == &kKinds[kWrite] || kind == &kKinds[kFlush]) {
                dirty.insert(call.FdPath());
            } else if (kind == &kKinds[kClose]) {
                step = step && dirty.erase(call.FdPath()) > 0;
            }
            if (step || (everyCall && inTree)) {
                steps_.push_back({call, calls[index + 1], step ? kind : nullptr});
            }
        }
    }

    // One faulty run on a freshly laid panel, then the checks and the next run.
    void Check(const std::string& inject, bool crash, const std::string& what) {
        CaseRun panel;
        panel.Play(case_, at_);
        const PanelTree& tree = panel.tree_;
        const std::string temporary = tree.Settings() + ".tmp";
        const std::string leftover = Exists(temporary) ? ReadFile(temporary) : "";
        const RunResult run =
            tree.Run(args_, "", panel.Traced("/dev/null", {"-e", "inject=" + inject}));
        const auto [settings, nvm] = panel.Stores();
        // A rewrite in place cut short holds the new line and the old one's
        // tail; a leftover temporary file stays only while removing fails.
        const std::string cut =
            after_[0] + before_[0].substr(std::min(after_[0].size(), before_[0].size()));
        EXPECT_TRUE(settings == before_[0] || settings == after_[0] || settings == cut)
            << what << settings;
        EXPECT_TRUE(nvm == before_[1] || nvm == after_[1]) << what << nvm.substr(0, 300);
        EXPECT_TRUE(crash ? run.status == 128 + 9 : run.status <= 1) << what << run.err;
        EXPECT_TRUE(crash || !Exists(temporary) || ReadFile(temporary) == leftover) << what;
        EXPECT_TRUE(run.status != 0 || (settings == after_[0] && nvm == after_[1])) << what;
        // Whatever the run left, the next run completes it.
        const RunResult again = tree.Run(args_, "", panel.Traced("/dev/null"));
        runs_ += 2;
        EXPECT_EQ(again.status, 0) << what << again.err;
        EXPECT_EQ(panel.Stores(), after_) << what;
        EXPECT_FALSE(Exists(temporary) || Exists(tree.Nvm("newNVM.xml"))) << what;
        EXPECT_TRUE(Exists(tree.Nvm("NVM.xml.bak"))) << what;
    }

    void Run() {
        const bool crash = kind_ == "crashes";
#ifdef __SANITIZE_ADDRESS__
        constexpr bool kSanitized = true;
#else
        constexpr bool kSanitized = false;
#endif
        if (crash && kWrapped) {
            GTEST_SKIP() << "a killed run has no memory errors to report";
        }
        Discover(crash && kLongTests);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
        std::set<std::string> done;  // after one call is before the next
        for (const Step& step : steps_) {
            const std::string on = " (" + step.call.FdPath() + step.call.Path() + ")";
            // Killed at entry to the call, before it takes effect, and at
            // entry to the next one, after it took effect.
            for (const Syscall* call :
                 {&step.call, step.kind != nullptr ? &step.next : &step.call}) {
                const std::string spec =
                    call->name + ":signal=SIGKILL:when=" + std::to_string(call->nth);
                if (crash && done.insert(spec).second) {
                    Check(spec, true, spec + on);
                }
            }
            if (crash || step.kind == nullptr) {
                continue;
            }
            // Under a checker, every failure path once is enough.
            Words errors = step.kind->errors;
            if (kWrapped) {
                errors.resize(1);
            } else if (kLongTests) {
                errors.insert(errors.end(), step.kind->moreErrors.begin(),
                              step.kind->moreErrors.end());
            }
            const std::string at = step.call.name + ":error=";
            const std::string when = ":when=" + std::to_string(step.call.nth);
            for (const std::string& error : errors) {
                Check(at + error + when, false, at + error + when + on);
            }
            // A full flash stays full: this call and every later one of its kind
            // fail. (Without hard links, renames that fail for good once the
            // document was moved aside leave no NVM.xml: a known limit.) A
            // sanitizer's runtime and valgrind write to pipes of their own and
            // stop when that fails, so writes fail for good only without them.
            const bool ownWrites = kSanitized && step.kind == &kKinds[kWrite];
            if (!kWrapped && !ownWrites &&
                (alwaysFails_.empty() || step.kind != &kKinds[kRename])) {
                Check(at + errors[0] + when + "+", false, at + errors[0] + when + "+" + on);
            }
        }
        std::cout << "[ reliability ] " << case_.name << ": " << steps_.size() << " steps, "
                  << runs_ << " runs" << std::endl;
    }

  private:
    struct Step {
        Syscall call;
        Syscall next;
        const Kind* kind;  // nullptr: a crash point only
    };
    const Case& case_;
    size_t at_;
    std::string kind_;  // "faults" or "crashes"
    Words args_;
    std::array<std::string, 2> before_;
    std::array<std::string, 2> after_;
    std::string alwaysFails_;  // the case's own injections, "link,linkat:error=EPERM" say
    std::vector<Step> steps_;
    int runs_ = 0;
};

const bool kRegistered = [] {
    for (const Case& c : LoadCases()) {
        struct CaseTest : testing::Test {
            explicit CaseTest(Case c) : case_(std::move(c)) {}
            void TestBody() override {
                // The fault loops come last, each over the panel the lines before them lay.
                const size_t at = CaseRun().Play(case_);
                for (size_t loop = at; loop < case_.lines.size(); ++loop) {
                    FaultLoop(case_, at, case_.lines[loop]).Run();
                }
            }
            Case case_;
        };
        // The file's name: no dash, which --gtest_filter would read as "but not".
        const std::string suite = c.name.substr(0, c.name.find('.'));
        testing::RegisterTest(suite.c_str(), c.name.substr(suite.size() + 1).c_str(), nullptr,
                              nullptr, __FILE__, __LINE__,
                              [c]() -> testing::Test* { return new CaseTest(c); });
    }
    return true;
}();

}  // namespace
