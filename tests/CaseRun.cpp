#include "CaseRun.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>

#include "SyscallTrace.h"

namespace fs = std::filesystem;

namespace {

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

const std::set<std::string> kChecks = {"status", "out",    "usage", "err",  "err-start",
                                       "fails",  "expect", "has",   "same", "owner"};

}  // namespace

bool IsLoop(const std::string& key) {
    return key == "faults" || key == "crashes" || key == "oom" || key == "room";
}

size_t CaseRun::Play(const Case& c, size_t upTo) {
    Defs defs = {
        {"panel", tree_.PanelConfig()}, {"conf", tree_.Settings()}, {"nvm", tree_.Nvm("")}};
    size_t index = 0;
    for (; index < std::min(upTo, c.lines.size()); ++index) {
        SCOPED_TRACE(c.lines[index].substr(0, 100));
        Words w;
        const std::string key = LineWords(c.lines[index], defs, tree_.Root(), w);
        const std::string path = w.empty() ? "" : Path(w[0]);
        if (IsLoop(key)) {
            break;
        }
        if (key == "def") {
            defs[w[0]] = Joined(w, 1);
        } else if (key == "ok" || (key == "usage" && !w.empty())) {  // run, then check
            Run(w);
            Check(key == "ok" ? "status" : key, {"0"}, "", "");
        } else if (key == "values") {  // a template's $1, $2...: the words between slashes
            int n = 1;
            for (const std::string& word : w) {
                if (word == "/") {
                    ++n;
                } else {
                    defs[std::to_string(n)] += word;
                }
            }
        } else if (kChecks.count(key) > 0) {
            Check(key, w, path, Joined(w, 1));
        } else {
            Lay(key, w, path, Joined(w, 1));
        }
        if (testing::Test::HasFatalFailure() || testing::Test::IsSkipped()) {
            return c.lines.size();
        }
    }
    return index;
}

Words CaseRun::Traced(const std::string& trace, const Words& more, const Words& limits) const {
    Words prefix = mount_;
    // No trace file: strace only for the case's own strace words.
    const Words strace = {"strace", "-f", "-qq", "-y",
                          "-s",     "64", "-o",  trace.empty() ? "/dev/null" : trace};
    for (const Words& words :
         {limits, trace.empty() && strace_.empty() ? Words() : strace, strace_, more, through_}) {
        prefix.insert(prefix.end(), words.begin(), words.end());
    }
    return prefix;
}

std::array<std::string, 2> CaseRun::Stores() const {
    return {ReadFile(settings_), Exists(tree_.Nvm()) ? ReadFile(tree_.Nvm()) : "(none)"};
}

void CaseRun::Lay(const std::string& key, const Words& w, const std::string& path,
                  const std::string& text) {
    if (key == "file" || key == "rm" || key == "fifo" || key == "symlink" || key == "hardlink" ||
        key == "chain") {
        fs::remove_all(path);
        fs::create_directories(fs::path(path).parent_path());
    }
    if (key == "rm") {
        return;  // removed above
    }
    if (key == "file") {
        WriteFile(path, text);
    } else if (key == "fifo") {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    } else if (key == "symlink") {
        fs::create_symlink(w[1], path);
    } else if (key == "chain") {  // PATH to PATH.1 ... to PATH.N-1 to TARGET: N links
        const int links = std::stoi(w[1]);
        for (int link = 1; link <= links; ++link) {
            const std::string name = link == 1 ? path : path + "." + std::to_string(link - 1);
            fs::remove(name);
            fs::create_symlink(link == links ? w[2] : path + "." + std::to_string(link), name);
        }
    } else if (key == "hardlink") {
        fs::create_hard_link(Path(w[1]), path);
    } else if (key == "chmod") {
        ASSERT_EQ(chmod(path.c_str(), std::stoul(w[1], nullptr, 8)), 0);
    } else if (key == "chown") {
        ASSERT_EQ(lchown(path.c_str(), std::stoul(w[1]), std::stoul(w[2])), 0);
    } else if (key == "cwd") {
        cwd_ = path;
    } else if (key == "strace") {  // for the next run; for every one of a loop
        strace_ = w;
    } else if (key == "through") {  // last before the program: nothing between resets signals
        through_ = w;
    } else if (key == "close") {  // a standard descriptor, for the next run
        if (kWrapped && w[0] == "2") {
            GTEST_SKIP() << "a checker such as valgrind cannot run without standard error";
        }
        // Closed for the program alone: strace's log has a descriptor of its own.
        through_ = {"sh", "-c", "exec \"$@\" " + w[0] + ">&-", "sh"};
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
    } else {
        FAIL() << "unknown key";
    }
}

void CaseRun::Check(const std::string& key, const Words& w, const std::string& path,
                    const std::string& text) {
    struct stat info {};
    const std::string& err = run_.err;
    if (key == "status" || key == "fails" || key == "usage") {  // and then as err-end or out
        EXPECT_EQ(run_.status, key == "status" ? std::stoi(w[0]) : 1) << err.substr(0, 2000);
    }
    if (key == "out" || key == "usage") {
        // The usage shows when the program was built.
        const std::regex stamp(R"(\(\w{3} [ \d]\d \d{4} \d\d:\d\d:\d\d\) )");
        EXPECT_EQ(std::regex_replace(run_.out, stamp, "(STAMP) "),
                  key == "out" ? Joined(w, 0) : ReadFile(DOLVIN_TEST_DATA "/usage.txt"));
    } else if (key == "err" || key == "err-start" || key == "fails") {
        const std::string part = Joined(w, 0);
        EXPECT_TRUE(key == "err" ? err == part
                    : key == "err-start"
                        ? err.rfind(part, 0) == 0
                        : err.size() >= part.size() && err.substr(err.size() - part.size()) == part)
            << err.substr(0, 2000);
    } else if (key == "expect") {
        EXPECT_EQ(Exists(path) ? ReadFile(path) : "(none)", w.size() > 1 ? text : "(none)") << path;
    } else if (key == "has") {
        EXPECT_NE(ReadFile(path).find(text), std::string::npos) << path;
    } else if (key == "same") {
        EXPECT_EQ(tree_.Snapshot(), before_);
    } else if (key == "owner") {  // owner PATH MODE UID GID
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(std::to_string(info.st_mode & 07777) + " " + std::to_string(info.st_uid) + " " +
                      std::to_string(info.st_gid),
                  std::to_string(std::stoul(w[1], nullptr, 8)) + " " + w[2] + " " + w[3])
            << path;
    }
}

void CaseRun::Run(const Words& args) {
    if (before_.empty()) {
        before_ = tree_.Snapshot();
    }
    const std::string trace = tree_.Root() + "/../trace";
    // Not traced: calls with data in their first argument (getrandom).
    run_ = tree_.Run(args, cwd_, Traced(trace, {"-e", "trace=%file,%network,%desc"}, Limits()));
    strace_.clear();
    through_.clear();
    // Below the test's directory only the panel's own files and the working
    // directory; no catalog anywhere. A checker such as valgrind opens files
    // of its own, in the working directory too.
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
        // A closed standard descriptor's number never goes to a file of the tree.
        EXPECT_FALSE(call.FdPath(true).rfind(base, 0) == 0 && std::stoi(call.result) <= 2)
            << call.name << " " << call.result;
    }
}

// A time limit and, where no sanitizer or checker needs a large address
// space, a memory limit.
Words CaseRun::Limits() {
    Words prefix = {"timeout", "-s", "KILL", kWrapped ? "600" : "60"};
#ifndef __SANITIZE_ADDRESS__
    if (!kWrapped) {  // the emulator bounds the program to 1 GiB itself and needs more
        prefix.insert(
            prefix.end(),
            {"prlimit", DOLVIN_SANDBOX_EMULATOR[0] != '\0' ? "--as=2147483648" : "--as=1073741824",
             "--"});
    }
#endif
    return prefix;
}
