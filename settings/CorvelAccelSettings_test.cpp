#include "settings/CorvelAccelSettings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>

#include "tests/PanelTree.h"

namespace {

struct ReadCase {
    const char* text;
    bool loaded;
    bool switches[4];
    float sensitivity;
};

const ReadCase kReadCases[] = {
    {"true true true true 0.5 \n", true, {true, true, true, true}, 0.5F},
    {"false true false true 0.25", true, {false, true, false, true}, 0.25F},
    {"truefalse true true .5", true, {true, false, true, true}, 0.5F},
    {"\n\ttrue\ntrue  false true 5.", true, {true, true, false, true}, 5.0F},
    {"true true true true 0x1A", true, {true, true, true, true}, 0.0F},
    {"true true true true -2.5E-1xyz", true, {true, true, true, true}, -0.25F},
    {"true true true true 1e-50", true, {true, true, true, true}, 0.0F},
    {"true true true true 0.5e", false, {}, 0},
    {"true true true true 0.5e+", false, {}, 0},
    {"true true true true inf", false, {}, 0},
    {"true true true true nan", false, {}, 0},
    {"true true true true 1e39", false, {}, 0},
    {"true true true true -", false, {}, 0},
    {"1 0 1 0 0.5", false, {}, 0},
    {"True true true true 0.5", false, {}, 0},
    {"true true true", false, {}, 0},
    {"", false, {}, 0},
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << "[" << c.text << "]";
}

class ReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadTest, AcceptsWhatTheStreamAccepts) {
    const ReadCase& c = GetParam();
    PanelTree tree;
    WriteFile(tree.Settings(), c.text);
    CCorvelAccelSettings record;
    record.bEnabled = false;  // a failed load must leave every value as it was
    record.fSensitivity = 7.0F;
    record.bLoaded = !c.loaded;
    EXPECT_EQ(record.LoadSettingsFromFile(tree.Settings().c_str()), c.loaded);
    EXPECT_EQ(record.bLoaded, c.loaded);
    const bool expected[4] = {false, true, true, true};
    const bool* switches = c.loaded ? c.switches : expected;
    EXPECT_EQ(record.bEnabled, switches[0]);
    EXPECT_EQ(record.bSwitch2, switches[1]);
    EXPECT_EQ(record.bSwitch3, switches[2]);
    EXPECT_EQ(record.bSwitch4, switches[3]);
    EXPECT_EQ(record.fSensitivity, c.loaded ? c.sensitivity : 7.0F);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadTest, testing::ValuesIn(kReadCases));

TEST(ReadSettings, MissingFileLeavesLoadedFlag) {
    CCorvelAccelSettings record;
    record.bLoaded = true;
    EXPECT_FALSE(record.LoadSettingsFromFile("/nonexistent/accel.conf"));
    EXPECT_FALSE(record.LoadSettingsFromFile(nullptr));
    EXPECT_TRUE(record.bLoaded);
}

std::string Written(bool enabled, float sensitivity) {
    PanelTree tree;
    CCorvelAccelSettings record;
    record.bEnabled = enabled;
    record.bSwitch3 = false;
    record.fSensitivity = sensitivity;
    return record.WriteSettingsToFile(tree.Settings().c_str()) ? ReadFile(tree.Settings())
                                                               : "refused";
}

TEST(WriteSettings, WritesTheLineWithShortestExactSensitivity) {
    const struct {
        float value;
        const char* line;
    } cases[] = {
        {0.5F, "true true false true 0.5 \n"},
        {1.0F, "true true false true 1 \n"},
        {1e-5F, "true true false true 1e-05 \n"},
        {0.333333F, "true true false true 0.333333 \n"},
        {100.0F, "true true false true 100 \n"},
        {0.1F, "true true false true 0.1 \n"},
        {16777216.0F, "true true false true 16777216 \n"},  // needs eight digits
        {0.123456789F, "true true false true 0.12345679 \n"},
        {std::numeric_limits<float>::infinity(), "refused"},
        {-std::numeric_limits<float>::infinity(), "refused"},
        {std::numeric_limits<float>::quiet_NaN(), "refused"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Written(true, c.value), c.line) << c.value;
    }
    EXPECT_EQ(Written(false, 0.25F), "false true false true 0.25 \n");
}

TEST(WriteSettings, EveryFiniteValueReadsBackAsItself) {
    PanelTree tree;
    std::mt19937 random(20261206);  // NOLINT(cert-msc32-c,cert-msc51-cpp): reproducible
    for (int round = 0; round < 2000; ++round) {
        const uint32_t bits = random();
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) {
            continue;
        }
        CCorvelAccelSettings written;
        written.fSensitivity = value;
        ASSERT_TRUE(written.WriteSettingsToFile(tree.Settings().c_str()));
        CCorvelAccelSettings read;
        ASSERT_TRUE(read.LoadSettingsFromFile(tree.Settings().c_str())) << value;
        EXPECT_TRUE(read == written) << ReadFile(tree.Settings());
    }
}

TEST(WriteSettings, KeepsModeOwnerAndLink) {
    PanelTree tree;
    const std::string real = tree.Root() + "/data/accel.conf";
    WriteFile(real, kHealthySettings);
    std::filesystem::remove(tree.Settings());
    std::filesystem::create_symlink("../../../../data/accel.conf", tree.Settings());
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(real.c_str(), 1234, 5678), 0);
    }
    CCorvelAccelSettings record;
    record.fSensitivity = 0.125F;
    ASSERT_TRUE(record.WriteSettingsToFile(tree.Settings().c_str()));

    EXPECT_TRUE(std::filesystem::is_symlink(tree.Settings()));
    EXPECT_EQ(ReadFile(real), "true true true true 0.125 \n");
    struct stat info {};
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
    if (root) {
        EXPECT_EQ(info.st_uid, 1234U);
        EXPECT_EQ(info.st_gid, 5678U);
    }
    EXPECT_FALSE(Exists(real + ".tmp"));
    EXPECT_FALSE(Exists(tree.Settings() + ".tmp"));
}

TEST(WriteSettings, FailedWriteLeavesOldFileAndNoTemporary) {
    PanelTree tree;
    WriteFile(tree.Settings() + ".tmp", "left by a crash");  // never blocks a write
    chmod((tree.Settings() + ".tmp").c_str(), 0400);
    CCorvelAccelSettings record;
    record.fSensitivity = 0.125F;

    // A full flash: the file size limit makes the write itself fail.
    static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 10;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool written = record.WriteSettingsToFile(tree.Settings().c_str());
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(tree.Settings()), kHealthySettings);
    EXPECT_FALSE(Exists(tree.Settings() + ".tmp"));
    EXPECT_TRUE(record.WriteSettingsToFile(tree.Settings().c_str()));
    EXPECT_EQ(ReadFile(tree.Settings()), "true true true true 0.125 \n");
}

TEST(SettingsRecord, EqualityIgnoresLoadedFlag) {
    CCorvelAccelSettings left{};
    CCorvelAccelSettings right;
    right.bLoaded = true;
    EXPECT_TRUE(left == right);
    right.bSwitch4 = false;
    EXPECT_TRUE(left != right);
}

}  // namespace
