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

TEST(ReadSettings, FailedLoadKeepsTheRecord) {
    PanelTree tree;
    WriteFile(tree.Settings(), "true true true 0.25\n");
    CCorvelAccelSettings record;
    record.bEnabled = false;
    record.fSensitivity = 7.0F;
    record.bLoaded = true;
    EXPECT_FALSE(record.LoadSettingsFromFile("/nonexistent/accel.conf"));
    EXPECT_TRUE(record.bLoaded);  // not opened: the flag stays
    EXPECT_FALSE(record.LoadSettingsFromFile(tree.Settings().c_str()));
    EXPECT_FALSE(record.bLoaded);
    EXPECT_FALSE(record.bEnabled);
    EXPECT_EQ(record.fSensitivity, 7.0F);
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
        {0.1F, "true true false true 0.1 \n"},
        {16777216.0F, "true true false true 16777216 \n"},  // needs eight digits
        {0.123456789F, "true true false true 0.12345679 \n"},
        {std::numeric_limits<float>::infinity(), "refused"},
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

}  // namespace
