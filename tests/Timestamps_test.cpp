// A panel whose clock once ran past January 2038 has documents stamped then;
// 32-bit builds must still read and replace them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/PanelTree.h"

namespace {

TEST(Timestamps, DocumentsStampedAfter2038AreReadAndReplaced) {
    PanelTree tree;
    const timespec year2040[2] = {{2208988800, 0}, {2208988800, 0}};
    for (const std::string& path : {tree.PanelConfig(), tree.Settings(), tree.Nvm()}) {
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), year2040, 0), 0) << path;
    }
    const RunResult set = tree.Run({"--v", "--set", "2"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(ReadFile(tree.Settings()), "true true true true 0.25 \n");
    EXPECT_NE(ReadFile(tree.Nvm()).find("<sensitivity>2</sensitivity>"), std::string::npos);
    EXPECT_EQ(tree.Run({"--get"}).out, "2\n");
}

}  // namespace
