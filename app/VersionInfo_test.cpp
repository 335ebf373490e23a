#include "app/VersionInfo.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

// The compile date and time, as the compiler writes them ("Jun  7 2012 16:58:21").
const char kStamp[] = R"(\((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\d \d{4} )"
                      R"([0-2]\d:[0-5]\d:[0-6]\d\) )";

TEST(VersionInfo, FormatsVersionWithCompileStamp) {
    const struct {
        const char* version;
        std::string text;
    } cases[] = {
        {nullptr, "00.80 "},
        {"", " "},
        {"1.2", "1.2 "},
        {"0123456789012345678901234567890123456789", "0123456789012345678901234567890123456789 "},
        {"0123456789012345678901234567890123456789XYZ",
         "0123456789012345678901234567890123456789 "},
    };
    for (const auto& c : cases) {
        const std::string text = CVersionInfo(c.version).GetVersionInfo();
        EXPECT_EQ(text.substr(0, c.text.size()), c.text);
        EXPECT_TRUE(std::regex_match(text.substr(c.text.size()), std::regex(kStamp))) << text;
    }
}

}  // namespace
