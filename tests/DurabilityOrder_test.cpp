// The order in which a successful set reaches storage, read from its system
// calls: a file that a rename makes live was flushed after its last write and
// before the rename, and every change of a directory's entries is flushed
// after it, so that a power cut never brings back an old or empty store.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/PanelTree.h"
#include "tests/SyscallTrace.h"

namespace {

bool Named(const Syscall& call, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (call.name == name) {
            return true;
        }
    }
    return false;
}

std::string DirectoryOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

TEST(DurabilityOrder, NewFilesFlushedBeforeRenameAndDirectoriesAfter) {
    const struct {
        const char* name;
        std::vector<std::string> strace;
    } cases[] = {
        {"hard_links", {}},
        {"no_hard_links", {"-e", "inject=link,linkat:error=EPERM"}},
    };
    for (const auto& c : cases) {
        PanelTree tree;
        WriteFile(tree.Nvm("NVM.xml.bak"), "the backup before\n");
        const std::string trace = tree.Root() + "/../trace";
        ASSERT_EQ(tree.Run({"--set", "2"}, "", StraceInto(trace, c.strace)).status, 0);

        std::map<std::string, size_t> lastWrite;
        std::map<std::string, std::vector<size_t>> flushes;
        std::map<std::string, size_t> lastEntryChange;  // per directory
        std::set<std::string> madeLive;
        const std::vector<Syscall> calls = ReadTrace(trace, tree.Root());
        for (size_t index = 0; index < calls.size(); ++index) {
            const Syscall& call = calls[index];
            if (call.Failed() || !call.Below(tree.Root())) {
                continue;  // a checker's own files, under valgrind say
            }
            if (Named(call, {"write", "writev", "pwrite64"})) {
                lastWrite[call.FdPath()] = index;
            } else if (Named(call, {"fsync", "fdatasync"})) {
                flushes[call.FdPath()].push_back(index);
            } else if (Named(call, {"rename", "renameat", "renameat2", "link", "linkat", "unlink",
                                    "unlinkat"})) {
                const bool isUnlink = call.name.rfind("unlink", 0) == 0;
                const std::string target = call.Path(isUnlink ? 0 : 1);
                lastEntryChange[DirectoryOf(target)] = index;
                const std::string source = call.Path();
                if (call.name.rfind("rename", 0) == 0 && lastWrite.count(source) > 0) {
                    madeLive.insert(target);
                    bool flushed = false;
                    for (size_t flush : flushes[source]) {
                        flushed = flushed || flush > lastWrite[source];
                    }
                    EXPECT_TRUE(flushed) << c.name << ": " << source << " not flushed before "
                                         << call.name << " #" << call.nth;
                }
            }
        }
        EXPECT_EQ(madeLive, (std::set<std::string>{tree.Settings(), tree.Nvm()})) << c.name;
        for (const auto& [directory, change] : lastEntryChange) {
            bool flushed = false;
            for (size_t flush : flushes[directory]) {
                flushed = flushed || flush > change;
            }
            EXPECT_TRUE(flushed) << c.name << ": " << directory << " not flushed after call "
                                 << calls[change].name << " #" << calls[change].nth;
        }
    }
}

}  // namespace
