#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/PanelTree.h"

namespace {

TEST(GetRequest, PrintsLevelWithDiagnostics) {
    PanelTree tree;
    const RunResult run = tree.Run({"--get", "--v"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1\n");
    EXPECT_EQ(run.err,
              "successfully found a valid set of parameters\n"
              "parsed command line successfully\n"
              "GetJOVAccelMapping : retrieved accel mappings [0.0 0.5 0.25 0.125]\n"
              "retrieved JOV accel mapping successfully\n"
              "performing a get request\n"
              "GetAccelValue [true] [true] [true] [true] [0.500000]\n"
              "GetAccelValue : mapped to [1]\n"
              "get successful[1]\n");
}

TEST(GetRequest, MapsSettingsFileToLevel) {
    const struct {
        const char* settings;  // nullptr: no file; "/": a directory
        int status;
        const char* out;
        const char* lastErr;
    } cases[] = {
        {"false true true true 0.5 \n", 0, "0\n", "get successful[0]\n"},
        {"true false false false 0.25", 0, "2\n", "get successful[2]\n"},
        {"true true true true 0.2 \n", 0, "3\n", "get successful[3]\n"},
        {"true true true true 1e-50 \n", 0, "3\n", "get successful[3]\n"},
        {nullptr, 1, "", "GET FAILED\n"},
        {"/", 1, "", "GET FAILED\n"},
        {"1 0 1 0 0.5\n", 1, "", "GET FAILED\n"},
        {"true true true true\n", 1, "", "GET FAILED\n"},
    };
    for (const auto& c : cases) {
        PanelTree tree;
        std::filesystem::remove(tree.Settings());
        if (c.settings != nullptr && std::string(c.settings) == "/") {
            std::filesystem::create_directory(tree.Settings());
        } else if (c.settings != nullptr) {
            WriteFile(tree.Settings(), c.settings);
        }
        const std::string before = tree.Snapshot();
        const RunResult run = tree.Run({"--v", "--get"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        const std::string& err = run.err;
        EXPECT_EQ(err.substr(err.rfind('\n', err.size() - 2) + 1), c.lastErr) << err;
        EXPECT_EQ(tree.Snapshot(), before);
    }
}

}  // namespace
