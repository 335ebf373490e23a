#pragma once

// The system calls of a run, read back from an strace log written with
// "-f -y" (descriptors shown with their paths), and the kinds of call that
// change state on storage.
#include <string>
#include <vector>

#include "CaseTables.h"

class PanelTree;

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

// The calls of a run that started in directory cwd.
std::vector<Syscall> ReadTrace(const std::string& traceFile, const std::string& cwd);

// The state-changing calls under every name the C library issues them by,
// with the errors injected into them (the long run adds the second list).
struct Kind {
    Words names;
    Words errors;
    Words moreErrors;
};
enum { kOpen, kWrite, kFlush, kClose, kRename, kLink, kUnlink, kKindCount = 9 };
extern const Kind kKinds[kKindCount];
const Kind* KindOf(const std::string& name);

// A file made live by a rename, or rewritten in place, was flushed after its
// last write (and so before the rename), and between a change of its length
// and one of its content; every change of a directory's entries was flushed
// after it.
void CheckDurabilityOrder(const std::vector<Syscall>& calls, const PanelTree& tree);
