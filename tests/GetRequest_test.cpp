// The get request through the real program: what the settings reader
// accepts, and how a stored sensitivity maps to a level.
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

constexpr char kCrossed[] = "0 0.25 0.5 0.125";
constexpr char kNaN[] = "0 nan nan nan";

TEST(GetRequest, ReadsSettingsAndMapsThroughThresholds) {
    const struct {
        const char* levels;
        const char* settings;  // nullptr: no file; "/": a directory
        const char* out;       // empty: the get fails
    } cases[] = {
        // clang-format off
        {kHealthyThresholds, "false true true true 0.5 \n", "0\n"},  // off wins over the sensitivity
        {kHealthyThresholds, "true true true true 0.5", "1\n"},
        {kHealthyThresholds, "true true true true 0.49999997", "2\n"},
        {kHealthyThresholds, "true true true true 0.25", "2\n"},
        {kHealthyThresholds, "true true true true 0.24999999", "3\n"},
        {kHealthyThresholds, "true true true true 0.125", "3\n"},
        {kCrossed, "true true true true 0.3", "1\n"},  // level 2 is unreachable
        {kCrossed, "true true true true 0.2", "3\n"},
        {kNaN, "true true true true 0.5", "3\n"},
        // What the reader accepts: the standard stream's rules.
        {kHealthyThresholds, "truefalse true true .5", "1\n"},
        {kHealthyThresholds, "\n\ttrue\ntrue  false true 5.", "1\n"},
        {kHealthyThresholds, "true true true true 0x1A", "3\n"},  // reads the 0
        {kHealthyThresholds, "true true true true 2.5E-1xyz", "2\n"},
        {kHealthyThresholds, "true true true true 1e-50", "3\n"},  // underflow reads as 0
        {kHealthyThresholds, "true true true true 0.5e", ""},
        {kHealthyThresholds, "true true true true inf", ""},
        {kHealthyThresholds, "true true true true 1e39", ""},
        {kHealthyThresholds, "1 0 1 0 0.5", ""},
        {kHealthyThresholds, "True true true true 0.5", ""},
        {kHealthyThresholds, "true true true", ""},
        {kHealthyThresholds, "", ""},
        {kHealthyThresholds, nullptr, ""},
        {kHealthyThresholds, "/", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        PanelTree tree;
        WriteFile(tree.PanelConfig(), PanelConfigXml(c.levels));
        std::filesystem::remove(tree.Settings());
        if (c.settings != nullptr && std::string(c.settings) == "/") {
            std::filesystem::create_directory(tree.Settings());
        } else if (c.settings != nullptr) {
            WriteFile(tree.Settings(), c.settings);
        }
        const std::string before = tree.Snapshot();
        const RunResult run = tree.Run({"--v", "--get"});
        const std::string out = c.out;
        const std::string level = out.empty() ? "" : out.substr(0, out.size() - 1);
        SCOPED_TRACE(std::string(c.levels) + " / " + (c.settings ? c.settings : "(none)"));
        EXPECT_EQ(run.status, out.empty() ? 1 : 0);
        EXPECT_EQ(run.out, out);
        EXPECT_TRUE(
            EndsWith(run.err, out.empty() ? "GET FAILED\n" : "get successful[" + level + "]\n"))
            << run.err;
        EXPECT_EQ(tree.Snapshot(), before);
    }
}

}  // namespace
