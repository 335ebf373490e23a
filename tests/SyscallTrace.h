#pragma once

// The system calls of one run of the program, read back from an strace log
// written with "-f -y" (descriptors shown with their paths).

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
    std::string FdPath(bool returned = false) const;
    // The path in the index-th quoted argument, made absolute; "" if none.
    std::string Path(int index = 0) const;
    // Whether the call names a path or descriptor below directory.
    bool Below(const std::string& directory) const;
};

// The strace prefix that writes such a log to traceFile.
std::vector<std::string> StraceInto(const std::string& traceFile);

// The calls of a run that started in directory cwd.
std::vector<Syscall> ReadTrace(const std::string& traceFile, const std::string& cwd);
