#include "SyscallTrace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "PanelTree.h"

std::string Syscall::FdPath(bool returned) const {
    std::smatch match;
    const bool found =
        std::regex_search(returned ? result : args, match, std::regex("^[0-9]+<([^>]*)>"));
    return found ? match[1].str() : "";
}

std::string Syscall::Path(int index) const {
    // A quoted first argument is a path (not written data) in calls on names.
    if (args.rfind('"', 0) != 0 && args.rfind("AT_FDCWD", 0) != 0) {
        return "";
    }
    std::string rest = args;
    std::smatch match;
    for (int skipped = 0; std::regex_search(rest, match, std::regex("\"([^\"]*)\"")); ++skipped) {
        const std::string path = match[1];
        if (skipped == index) {
            return path.empty() || path[0] == '/' ? path : path == "." ? cwd : cwd + "/" + path;
        }
        rest = match.suffix();
    }
    return "";
}

bool Syscall::Below(const std::string& directory) const {
    for (const std::string& path : {Path(0), Path(1), FdPath(), FdPath(true)}) {
        if (path.rfind(directory + "/", 0) == 0) {
            return true;
        }
    }
    return false;
}

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

const Kind kKinds[kKindCount] = {
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

void CheckDurabilityOrder(const std::vector<Syscall>& calls, const PanelTree& tree) {
    std::map<std::string, size_t> lastWrite;
    std::map<std::string, std::vector<size_t>> flushes;
    std::map<std::string, size_t> lastEntryChange;        // per directory
    std::map<std::string, size_t> madeAt;                 // a file created or renamed into place
    std::map<std::string, std::string> openOn;            // descriptor number: the file opened
    std::map<std::string, std::vector<size_t>> closes;    // per descriptor number
    std::vector<std::pair<size_t, std::string>> renames;  // and a descriptor on the file replaced
    std::set<std::string> written = {tree.Settings()};
    const size_t never = calls.size();
    // The first flush of path after the call at index; never if none.
    const auto flushedAfter = [&flushes, never](const std::string& path, size_t index) {
        const std::vector<size_t>& at = flushes[path];
        const auto found = std::upper_bound(at.begin(), at.end(), index);
        return found == at.end() ? never : *found;
    };
    for (size_t index = 0; index < calls.size(); ++index) {
        const Syscall& call = calls[index];
        const Kind* kind = KindOf(call.name);
        if (call.Failed() || !call.Below(tree.Root()) || kind == nullptr) {
            continue;  // a checker's own files, under valgrind say
        }
        const std::string target = call.Path(call.name.rfind("unlink", 0) == 0 ? 0 : 1);
        if (kind == &kKinds[kOpen]) {
            openOn[call.result.substr(0, call.result.find('<'))] = call.FdPath(true);
            if (call.args.find("O_CREAT") != std::string::npos) {
                madeAt[call.FdPath(true)] = index;
            }
        } else if (kind == &kKinds[kClose]) {
            const std::string fd = call.args.substr(0, call.args.find('<'));
            closes[fd].push_back(index);
            openOn.erase(fd);
        } else if (kind == &kKinds[kWrite]) {
            // A change of a file's length and one of its content reach storage
            // in either order unless a flush of the file separates them.
            const std::string file = call.FdPath();
            const size_t last = lastWrite.count(file) > 0 ? lastWrite[file] : index;
            EXPECT_TRUE(flushedAfter(file, last) < index ||
                        (calls[last].name == "ftruncate") == (call.name == "ftruncate"))
                << file << ": " << calls[last].name << ", then " << call.name << " unflushed";
            lastWrite[file] = index;
        } else if (kind == &kKinds[kFlush]) {
            // vfat writes a file's entry before its table of clusters when the
            // file is flushed: a flush of the directory puts the table first.
            const std::string file = call.FdPath();
            if (madeAt.count(file) > 0) {
                const size_t changed =
                    std::max(madeAt[file], lastWrite.count(file) > 0 ? lastWrite[file] : 0);
                EXPECT_LT(flushedAfter(file.substr(0, file.rfind('/')), changed), index)
                    << file << " flushed before its directory";
            }
            flushes[file].push_back(index);
        } else if (kind >= &kKinds[kRename] && kind <= &kKinds[kUnlink]) {
            lastEntryChange[target.substr(0, target.rfind('/'))] = index;
            if (kind == &kKinds[kRename]) {
                written.insert(call.Path());
                madeAt[target] = index;
                const auto held =
                    std::find_if(openOn.begin(), openOn.end(),
                                 [&target](const auto& fd) { return fd.second == target; });
                renames.emplace_back(index, held == openOn.end() ? "-" : held->first);
            }
        }
    }
    EXPECT_GT(lastWrite.count(tree.Settings()) + written.count(tree.Settings() + ".tmp"), 0U);
    EXPECT_GT(written.count(tree.Nvm("newNVM.xml")), 0U);
    for (const std::string& file : written) {
        EXPECT_TRUE(lastWrite.count(file) == 0 || flushedAfter(file, lastWrite[file]) < never)
            << file << " not flushed";
    }
    for (const auto& [directory, change] : lastEntryChange) {
        EXPECT_LT(flushedAfter(directory, change), never)
            << directory << " not flushed after " << calls[change].name;
    }
    // A file made live by a rename is flushed under its name, and vfat frees
    // the clusters of the file it replaced when its last descriptor closes:
    // that file is held open until then.
    for (const auto& [at, held] : renames) {
        const std::string file = calls[at].Path(1);
        const size_t flushed = flushedAfter(file, at);
        EXPECT_LT(flushed, never) << file << " not flushed under its name";
        const std::vector<size_t>& close = closes[held];
        const auto closed = std::upper_bound(close.begin(), close.end(), at);
        EXPECT_TRUE(closed != close.end() && *closed > flushed) << file << ": old not held open";
    }
}
