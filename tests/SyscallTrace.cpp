#include "tests/SyscallTrace.h"

#include <fstream>
#include <map>

namespace {

// "3</path>..." gives "/path"; anything else gives "".
std::string DescriptorPath(const std::string& text) {
    const auto digits = text.find_first_not_of("0123456789");
    const auto close = text.find('>');
    if (digits == 0 || digits == std::string::npos || text[digits] != '<' ||
        close == std::string::npos) {
        return "";
    }
    return text.substr(digits + 1, close - digits - 1);
}

}  // namespace

std::string Syscall::FdPath() const {
    return DescriptorPath(args);
}

std::string Syscall::ResultPath() const {
    return DescriptorPath(result);
}

std::string Syscall::Quoted(int index) const {
    for (auto open = args.find('"'); open != std::string::npos;) {
        const auto close = args.find('"', open + 1);
        if (close == std::string::npos) {
            break;
        }
        if (index-- == 0) {
            return args.substr(open + 1, close - open - 1);
        }
        open = args.find('"', close + 1);
    }
    return "";
}

std::vector<std::string> StraceInto(const std::string& traceFile,
                                    const std::vector<std::string>& extra) {
    std::vector<std::string> prefix = {"strace", "-f", "-qq", "-y", "-s", "64", "-o", traceFile};
    prefix.insert(prefix.end(), extra.begin(), extra.end());
    return prefix;
}

std::string Syscall::Path(int index) const {
    std::string path = Quoted(index);
    if (path.empty() || path[0] == '/') {
        return path;
    }
    return path == "." ? cwd : cwd + "/" + path;
}

bool Syscall::Below(const std::string& directory) const {
    // A quoted first argument is a path (not written data) in calls on names.
    const bool onNames = args.rfind('"', 0) == 0 || args.rfind("AT_FDCWD", 0) == 0;
    for (const std::string& path :
         {onNames ? Path(0) : "", onNames ? Path(1) : "", FdPath(), ResultPath()}) {
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
    for (std::string line; std::getline(in, line);) {
        // "PID  name(args) = result"; signals and exits have no parenthesis.
        const auto start = line.find_first_not_of(' ', line.find(' '));
        const auto paren = line.find('(', start);
        const auto equals = line.rfind(" = ");
        const auto close = line.find_last_not_of(' ', equals);  // strace aligns results
        if (start == std::string::npos || paren == std::string::npos ||
            equals == std::string::npos || close <= paren || line[close] != ')' ||
            line.find("resumed>") != std::string::npos) {
            continue;
        }
        Syscall call;
        call.name = line.substr(start, paren - start);
        call.nth = ++seen[call.name];
        call.args = line.substr(paren + 1, close - paren - 1);
        call.result = line.substr(equals + 3);
        call.cwd = calls.empty() ? cwd : calls.back().cwd;
        if (call.name == "chdir" && !call.Failed()) {
            call.cwd = call.Path();
        }
        calls.push_back(call);
    }
    return calls;
}
