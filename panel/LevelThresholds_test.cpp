#include "panel/LevelThresholds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "common/GlobalState.h"
#include "tests/PanelTree.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kUntouched[4] = {9.0F, 9.0F, 9.0F, 9.0F};
constexpr char kFourOnly[] = "GetJOVAccelMapping : failed to retrieve 4 and only 4 levels\n";

struct ThresholdCase {
    const char* name;
    std::string document;  // empty: no file at all
    bool loaded;
    float expected[4];
    std::string err;  // the loader's own lines
};

std::string Retrieved(const std::string& levels) {
    return "GetJOVAccelMapping : retrieved accel mappings [" + levels + "]\n";
}

// clang-format off
const ThresholdCase kCases[] = {
    {"four", PanelConfigXml("0.0 0.5 0.25 0.125"), true, {0, 0.5, 0.25, 0.125},
     Retrieved("0.0 0.5 0.25 0.125")},
    {"extra_spaces", PanelConfigXml("  1   2 3 4  "), true, {1, 2, 3, 4}, Retrieved("  1   2 3 4  ")},
    {"literal_tab_separates", PanelConfigXml("1\t2 3\n4"), true, {1, 2, 3, 4}, Retrieved("1 2 3 4")},
    {"tab_reference_joins", PanelConfigXml("1&#9;2 3 4 5"), true, {1, 3, 4, 5},
     Retrieved("1\t2 3 4 5")},
    {"zeros_and_hex", PanelConfigXml("0 0.0 -0 0x10"), true, {0, 0, 0, 16},
     Retrieved("0 0.0 -0 0x10")},
    {"trailing_text_inf", PanelConfigXml("0.5x 1e40 -inf 2"), true, {0.5, kInf, -kInf, 2},
     Retrieved("0.5x 1e40 -inf 2")},
    {"three", PanelConfigXml("1 2 3"), false, {}, Retrieved("1 2 3") + kFourOnly},
    {"five", PanelConfigXml("1 2 3 4 5"), false, {}, Retrieved("1 2 3 4 5") + kFourOnly},
    {"bare_hex_prefix", PanelConfigXml("0x 1 2 3"), false, {},
     Retrieved("0x 1 2 3") + "GetJOVAccelMapping : failed to convert level[0x]\n" + kFourOnly},
    {"first_element_counts", "<panelConfig><panelHardware><accelCtlr levels=\"1 2 3 4\"/>"
     "<accelCtlr levels=\"5 6 7 8\"/></panelHardware></panelConfig>", true, {1, 2, 3, 4},
     Retrieved("1 2 3 4")},
    {"no_attribute", "<panelConfig><panelHardware><accelCtlr/></panelHardware></panelConfig>",
     false, {}, "GetJOVAccelMapping : FAILED TO RESOLVE ATTR [levels]\n"},
    {"no_element", "<panelConfig><panelHardware/></panelConfig>", false, {},
     "GetJOVAccelMapping : FAILED TO RESOLVE XPATH [/panelConfig/panelHardware/accelCtlr]\n"},
    {"malformed", "<panelConfig><panelHardware>", false, {},
     "GetJOVAccelMapping : FAILED TO LOAD panel_config.xml\n"},
};
// clang-format on

// The loader's own lines, without the XML library's reports.
std::string OwnLines(const std::string& err) {
    std::istringstream lines(err);
    std::string line;
    std::string own;
    while (std::getline(lines, line)) {
        if (line.rfind("GetJOVAccelMapping", 0) == 0) {
            own += line + "\n";
        }
    }
    return own;
}

void PrintTo(const ThresholdCase& c, std::ostream* os) {
    *os << c.name;
}

class ThresholdTest : public testing::TestWithParam<ThresholdCase> {};

TEST_P(ThresholdTest, LoadsAllFourOrNothing) {
    const ThresholdCase& c = GetParam();
    PanelTree tree;
    static_cast<void>(std::remove(tree.PanelConfig().c_str()));
    if (!c.document.empty()) {
        WriteFile(tree.PanelConfig(), c.document);
    }
    std::memcpy(thresholds, kUntouched, sizeof thresholds);
    bVerbose = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetJOVAccelMapping(tree.PanelConfig().c_str()), c.loaded);
    EXPECT_EQ(OwnLines(testing::internal::GetCapturedStderr()), c.err);
    bVerbose = false;
    for (int k = 0; k < kThresholdCount; ++k) {
        EXPECT_EQ(thresholds[k], c.loaded ? c.expected[k] : kUntouched[k]) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ThresholdTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
