#include "tests/SyscallTrace.h"

#include <fstream>
#include <map>
#include <regex>

std::string Syscall::FdPath(bool returned) const {
    std::smatch match;
    return std::regex_search(returned ? result : args, match, std::regex("^[0-9]+<([^>]*)>"))
               ? match[1].str()
               : "";
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

std::vector<std::string> StraceInto(const std::string& traceFile) {
    return {"strace", "-f", "-qq", "-y", "-s", "64", "-o", traceFile};
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
