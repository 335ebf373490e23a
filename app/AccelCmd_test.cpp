#include "app/AccelCmd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/GlobalState.h"

namespace {

struct CmdLineCase {
    std::vector<std::string> args;  // after the program name
    bool valid;
    long level;  // gParameterValue afterwards
    const char* err;
};

constexpr char kValid[] = "successfully found a valid set of parameters\n";
constexpr char kInvalid[] = "INVALID ARGUMENT OR PARAMETERS\n";

const CmdLineCase kCases[] = {
    {{}, false, -1, ""},
    {{"--v", "--get", "a", "b"}, false, -1, ""},
    {{"--v"}, false, -1, kInvalid},
    {{"--get"}, true, -1, ""},
    {{"--get", "--v"}, true, -1, kValid},
    {{"--v", "--get"},
     true,
     -1,
     "found a --get arguement\n"
     "successfully found a valid set of parameters\n"},
    {{"--get", "2"}, false, -1, ""},
    {{"--get", "--v", "--v"}, false, -1, "found a --v arguement\nINVALID ARGUMENT OR PARAMETERS\n"},
    {{"--set", "3"}, true, 3, ""},
    {{"--set", "--v", "3"},
     true,
     3,
     "found a valid --set parameter [3]\n"
     "successfully found a valid set of parameters\n"},
    {{"--v", "--set", "3"},
     true,
     3,
     "found a --set arguement\n"
     "found a valid --set parameter [3]\n"
     "successfully found a valid set of parameters\n"},
    {{"--set", "3", "--v"}, false, -1, kInvalid},
    {{"--set", "0x3"}, true, 3, ""},
    {{"--set", "010"}, false, -1, ""},
    {{"--set", "0"}, true, 0, ""},
    {{"--set", "-0"}, true, 0, ""},
    {{"--set", " +1"}, true, 1, ""},
    {{"--set", "2abc"}, true, 2, ""},
    {{"--set", "x", "2"}, true, 2, ""},
    {{"--set", "abc"}, false, -1, ""},
    {{"--set", "0x"}, false, -1, ""},
    {{"--set", "-1"}, false, -1, ""},
    {{"--set", "4"}, false, -1, ""},
    {{"--set", "4294967298"}, false, -1, ""},  // 2^32 + 2 must not wrap to 2, whatever long is
    {{"--set", "99999999999999999999999"}, false, -1, ""},
    {{"--set", ""}, false, -1, ""},  // an unset variable must not mean level 0
    {{"--v", "--set", ""}, false, -1, "found a --set arguement\nINVALID ARGUMENT OR PARAMETERS\n"},
    {{"--set", "--get", "1"}, false, -1, ""},
    {{"--SET", "1"}, false, -1, ""},
};

void PrintTo(const CmdLineCase& c, std::ostream* os) {
    for (const std::string& arg : c.args) {
        *os << "[" << arg << "]";
    }
}

class CmdLineTest : public testing::TestWithParam<CmdLineCase> {};

TEST_P(CmdLineTest, DecidesRequestAndDiagnostics) {
    const CmdLineCase& c = GetParam();
    bCmdSet = bCmdGet = bVerbose = false;
    gParameterValue = -1;
    std::vector<std::string> words = {"dolvin"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    testing::internal::CaptureStderr();
    const bool valid = ProcessCmdLine(static_cast<int>(words.size()), argv.data());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(valid, c.valid);
    EXPECT_EQ(gParameterValue, c.level);
    if (valid) {
        EXPECT_NE(bCmdSet, bCmdGet);
        EXPECT_EQ(bCmdSet, c.level >= 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CmdLineTest, testing::ValuesIn(kCases));

}  // namespace
