#pragma once

// The system calls of one run of the program, read back from an strace log
// written with "-f -y" (descriptors shown with their paths).

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

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

// The strace prefix that writes such a log to traceFile.
inline std::vector<std::string> StraceInto(const std::string& traceFile) {
    return {"strace", "-f", "-qq", "-y", "-s", "64", "-o", traceFile};
}

// The calls of a run that started in directory cwd.
inline std::vector<Syscall> ReadTrace(const std::string& traceFile, const std::string& cwd) {
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
