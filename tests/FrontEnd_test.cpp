// The command line, the usage text and the threshold load, through the real
// program.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/PanelTree.h"

namespace {

const char kUsage[] =
    "\ndolvin : get/set Corvel UI panel accelerometer parameter\n"
    "Version : 00.80 (STAMP) \n\n"
    "dolvin --get|--set [--v] (PARAM)\n"
    "  --v : verbose output on stderr\n"
    "  0 <= PARAM <= 3\n\n"
    "Ex:\n\tdolvin --get\n\tdolvin --set 3\n\tdolvin --get --v\n\n";

std::string WithoutStamp(const std::string& out) {
    return std::regex_replace(out, std::regex(R"(\(\w{3} [ \d]\d \d{4} \d\d:\d\d:\d\d\) )"),
                              "(STAMP) ");
}

TEST(FrontEnd, RejectedCommandLineShowsUsageAndOpensNoDocument) {
    const struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{}, ""},
        {{"--v"}, "INVALID ARGUMENT OR PARAMETERS\n"},
        {{"--set", ""}, ""},
        {{"--v", "--set", "abc"}, "found a --set arguement\nINVALID ARGUMENT OR PARAMETERS\n"},
    };
    for (const auto& c : cases) {
        PanelTree tree;
        const std::string before = tree.Snapshot();
        const std::string trace = tree.Root() + "/../trace";
        const RunResult run =
            tree.Run(c.args, "", {"strace", "-f", "-qq", "-e", "trace=%file", "-o", trace});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(WithoutStamp(run.out), kUsage);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(tree.Snapshot(), before);
        EXPECT_EQ(ReadFile(trace).find(tree.Root()), std::string::npos) << ReadFile(trace);
    }
}

TEST(FrontEnd, WritesNoDiagnosticWithoutVerbose) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* removed;  // below the root, or nullptr
        int status;
        const char* out;
    } cases[] = {
        {"get", {"--get"}, nullptr, 0, "1\n"},
        {"set", {"--set", "2"}, nullptr, 0, "xpath returned 1 nodes\n"},
        {"get_without_settings", {"--get"}, "/usr/ui/uish/etc/accel.conf", 1, ""},
        {"set_without_nvm_dir", {"--set", "3"}, "/usr/ui/qel", 1, ""},
    };
    for (const auto& c : cases) {
        PanelTree tree;
        if (c.removed != nullptr) {
            std::filesystem::remove_all(tree.Root() + c.removed);
        }
        const RunResult run = tree.Run(c.args);
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
        // Only the XML library may speak, and only about a file it could not load.
        EXPECT_TRUE(run.err.empty() || run.err.rfind("I/O warning : failed to load", 0) == 0)
            << c.name << ": " << run.err;
    }
}

TEST(FrontEnd, FailedThresholdLoadTouchesNoStore) {
    PanelTree tree;
    WriteFile(tree.PanelConfig(), PanelConfigXml("0.0 0.5 0.25"));
    const std::string before = tree.Snapshot();
    const RunResult run = tree.Run({"--v", "--set", "2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "found a --set arguement\n"
              "found a valid --set parameter [2]\n"
              "successfully found a valid set of parameters\n"
              "parsed command line successfully\n"
              "GetJOVAccelMapping : retrieved accel mappings [0.0 0.5 0.25]\n"
              "GetJOVAccelMapping : failed to retrieve 4 and only 4 levels\n"
              "FAILED TO GET JOV ACCEL MAPPING\n");
    EXPECT_EQ(tree.Snapshot(), before);
}

}  // namespace
