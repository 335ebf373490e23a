#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/PanelTree.h"

namespace fs = std::filesystem;

namespace {

std::string Nvm(const std::string& value) {
    return NvmXml("<sensitivity>" + value + "</sensitivity>");
}

const std::string kOldNvm = Nvm("1");
const char kOldBackup[] = "the backup before";
const char kLevel2[] = "true true true true 0.25 \n";
const char kXPathLine[] = "xpath returned 1 nodes\n";

enum class Backup { kOldNvm, kUnchanged, kAbsent };

struct SetCase;
void PrintTo(const SetCase& c, std::ostream* os);

struct SetCase {
    const char* name;
    std::function<void(PanelTree&)> arrange;
    std::string inject;    // a failure injected by strace, if any
    std::string injectAt;  // only into calls on this file of the NVM directory
    int status;
    std::string out;
    std::string errTail;
    const char* settings;  // after the run; nullptr: no file
    std::string nvm;       // NVM.xml after the run; empty: no file
    Backup backup;
    bool ori;
    bool newLeft;
    long level = 2;
};

std::vector<std::string> Strace(const PanelTree& tree, const SetCase& c) {
    if (c.inject.empty()) {
        return {};
    }
    std::vector<std::string> prefix = {"strace", "-f", "-qq", "-o", "/dev/null"};
    if (!c.injectAt.empty()) {
        prefix.insert(prefix.end(), {"-P", tree.Nvm(c.injectAt)});
    }
    prefix.insert(prefix.end(), {"-e", "inject=" + c.inject});
    return prefix;
}

// A document large enough to be written in several pieces.
std::string BigNvm() {
    std::string settings = "<sensitivity>1</sensitivity>";
    for (int k = 0; k < 2000; ++k) {
        settings += "<setting>" + std::to_string(k) + "</setting>";
    }
    return NvmXml(settings);
}

std::string NvmFailed(const std::string& line) {
    return "SetJOVAccelNVM : " + line + "\nSET JOV NVM FAILED\n";
}

constexpr char kSetOk[] = "set successful\n";
constexpr char kEmptyFails[] = "SetAccelValue : modify successful\nSET JOV NVM FAILED\n";
constexpr auto kOld = Backup::kOldNvm;
constexpr auto kKept = Backup::kUnchanged;

// clang-format off
const SetCase kCases[] = {
    {"level0", nullptr, "", "", 0, kXPathLine, kSetOk, "false true true true 0.5 \n", Nvm("0"), kOld, true, false, 0},
    {"level1", nullptr, "", "", 0, kXPathLine, kSetOk, kHealthySettings, Nvm("1"), kOld, true, false, 1},
    {"level2", nullptr, "", "", 0, kXPathLine, kSetOk, kLevel2, Nvm("2"), kOld, true, false},
    {"level3", nullptr, "", "", 0, kXPathLine, kSetOk, "true true true true 0.125 \n", Nvm("3"), kOld, true, false, 3},
    {"first_backup", [](PanelTree& t) { fs::remove(t.Nvm("NVM.xml.bak")); }, "", "", 0, kXPathLine, kSetOk,
     kLevel2, Nvm("2"), kOld, true, false},
    {"two_elements", [](PanelTree& t) { WriteFile(t.Nvm(), Nvm("1</sensitivity><sensitivity>1")); }, "", "", 0,
     "xpath returned 2 nodes\n", kSetOk, kLevel2, Nvm("2</sensitivity><sensitivity>1"), kOld, true, false},
    {"cdata", [](PanelTree& t) { WriteFile(t.Nvm(), Nvm("<![CDATA[1]]>")); }, "", "", 0, kXPathLine, kSetOk,
     kLevel2, Nvm("<![CDATA[2]]>"), kOld, true, false},
    {"no_settings", [](PanelTree& t) { fs::remove(t.Settings()); }, "", "", 1, "",
     "SET ACCEL CONF FILE FAILED\n", nullptr, kOldNvm, kKept, false, false},
    {"malformed_nvm", [](PanelTree& t) { WriteFile(t.Nvm(), "<NVM><UISettings>"); }, "", "", 1, "",
     NvmFailed("FAILED TO LOAD NVM.xml"), kLevel2, "<NVM><UISettings>", kKept, false, false},
    {"no_element", [](PanelTree& t) { WriteFile(t.Nvm(), NvmXml("<level>1</level>")); }, "", "", 1, "",
     NvmFailed("FAILED TO RESOLVE XPATH [/NVM/UISettings/accelerometerSetting/sensitivity]"), kLevel2,
     NvmXml("<level>1</level>"), kKept, true, false},
    {"empty_element", [](PanelTree& t) { WriteFile(t.Nvm(), NvmXml("<sensitivity/>")); }, "", "", 1,
     kXPathLine, kEmptyFails, kLevel2, NvmXml("<sensitivity/>"), kKept, true, false},
    {"comment_first", [](PanelTree& t) { WriteFile(t.Nvm(), Nvm("<!--c-->1")); }, "", "", 1, kXPathLine,
     kEmptyFails, kLevel2, Nvm("<!--c-->1"), kKept, true, false},
    // Injected failures, in the order of the steps.
    {"settings_rename_fails", nullptr, "rename:error=EBUSY:when=1", "", 0, kXPathLine, kSetOk, kLevel2, Nvm("2"),
     kOld, true, false},
    {"new_nvm_write_fails", nullptr, "write:error=ENOSPC", "newNVM.xml", 1, kXPathLine,
     NvmFailed("failed to write new xml file"), kLevel2, kOldNvm, kKept, true, false},
    {"new_nvm_write_fails_midway", [](PanelTree& t) { WriteFile(t.Nvm(), BigNvm()); },
     "write:error=ENOSPC:when=2", "newNVM.xml", 1, kXPathLine, NvmFailed("failed to write new xml file"),
     kLevel2, BigNvm(), kKept, true, false},
    {"new_nvm_flush_fails", nullptr, "fsync:error=EIO:when=3", "", 1, kXPathLine,
     NvmFailed("failed to write new xml file"), kLevel2, kOldNvm, kKept, true, false},
    {"backup_unlink_fails", nullptr, "unlink:error=EIO:when=2", "", 1, kXPathLine,
     NvmFailed("could not unlink NVM.xml.bak"), kLevel2, kOldNvm, kKept, true, true},
    {"backup_link_fails", nullptr, "link:error=EIO", "", 1, kXPathLine,
     NvmFailed("could not move NVM.xml to NVM.xml.bak"), kLevel2, kOldNvm, Backup::kAbsent, true, true},
    {"no_hard_links", nullptr, "link:error=EPERM", "", 0, kXPathLine, kSetOk, kLevel2, Nvm("2"), kOld, true, false},
    {"replace_rename_fails", nullptr, "rename:error=EIO:when=2", "", 1, kXPathLine,
     NvmFailed("could not move newNVM.xml to NVM.xml"), kLevel2, kOldNvm, kOld, true, true},
    {"directory_flush_fails", nullptr, "fsync:error=EIO:when=4", "", 1, kXPathLine,
     NvmFailed("could not flush the NVM directory to storage"), kLevel2, Nvm("2"), kOld, true, false},
};
// clang-format on

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.name;
}

class SetTest : public testing::TestWithParam<SetCase> {};

TEST_P(SetTest, LeavesBothStoresAsExpected) {
    const SetCase& c = GetParam();
    PanelTree tree;
    WriteFile(tree.Nvm("NVM.xml.bak"), kOldBackup);
    if (c.arrange) {
        c.arrange(tree);
    }
    const std::string nvmBefore = Exists(tree.Nvm()) ? ReadFile(tree.Nvm()) : "";
    const RunResult run = tree.Run({"--v", "--set", std::to_string(c.level)}, "", Strace(tree, c));

    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_TRUE(EndsWith(run.err, c.errTail)) << run.err;
    EXPECT_EQ(Exists(tree.Settings()) ? ReadFile(tree.Settings()) : "(none)",
              c.settings != nullptr ? c.settings : "(none)");
    EXPECT_EQ(Exists(tree.Nvm()) ? ReadFile(tree.Nvm()) : "", c.nvm);
    const std::string backups[] = {nvmBefore, kOldBackup, "(none)"};
    EXPECT_EQ(Exists(tree.Nvm("NVM.xml.bak")) ? ReadFile(tree.Nvm("NVM.xml.bak")) : "(none)",
              backups[static_cast<int>(c.backup)]);
    EXPECT_EQ(Exists(tree.Nvm("NVM.xml.ori")), c.ori);
    if (c.ori) {
        EXPECT_EQ(ReadFile(tree.Nvm("NVM.xml.ori")), nvmBefore);
    }
    EXPECT_EQ(Exists(tree.Nvm("newNVM.xml")), c.newLeft);
    EXPECT_FALSE(Exists(tree.Settings() + ".tmp"));

    if (c.status == 0 || !c.inject.empty()) {  // a failure injected once does not come back
        EXPECT_EQ(tree.Run({"--set", std::to_string(c.level)}).status, 0);
        EXPECT_EQ(tree.Run({"--get"}).out, std::to_string(c.level) + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SetTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SetRequest, VerboseSuccessWritesExactlyTheListedLines) {
    PanelTree tree;
    const RunResult run = tree.Run({"--v", "--set", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "found a --set arguement\n"
              "found a valid --set parameter [2]\n"
              "successfully found a valid set of parameters\n"
              "parsed command line successfully\n"
              "GetJOVAccelMapping : retrieved accel mappings [0.0 0.5 0.25 0.125]\n"
              "retrieved JOV accel mapping successfully\n"
              "performing a set request[2]\n"
              "SetAccelValue : retrieved [true] [true] [true] [true] [0.500000]\n"
              "SetAccelValue : modifying to [true] [true] [true] [true] [0.250000]\n"
              "SetAccelValue : modify successful\n"
              "SetJOVAccelNVM : previous value 1\n"
              "set successful\n");
}

TEST(SetRequest, MissingNvmDirectoryNeverFallsBackToWorkingDirectory) {
    PanelTree tree;
    fs::remove_all(tree.NvmDir());
    const std::string elsewhere = tree.Root() + "/elsewhere";
    WriteFile(elsewhere + "/NVM.xml", kOldNvm);
    const RunResult run = tree.Run({"--v", "--set", "2"}, elsewhere);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("SetJOVAccelNVM : could not change to directory [" + tree.NvmDir() +
                           "]\nSET JOV NVM FAILED\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(elsewhere + "/NVM.xml"), kOldNvm);
    EXPECT_FALSE(Exists(elsewhere + "/NVM.xml.ori"));
    EXPECT_FALSE(Exists(elsewhere + "/newNVM.xml"));
}

}  // namespace
