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

    bool Failed() const { return result.rfind("-1", 0) == 0; }
    // The path of the descriptor in the first argument, or of the one returned.
    std::string FdPath() const;
    std::string ResultPath() const;
    // The first and second quoted strings among the arguments (a path).
    std::string Quoted(int index = 0) const;
};

// The strace prefix that writes such a log to traceFile; extra options follow.
std::vector<std::string> StraceInto(const std::string& traceFile,
                                    const std::vector<std::string>& extra = {});

std::vector<Syscall> ReadTrace(const std::string& traceFile);
