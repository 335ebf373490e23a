// The real program over the cases of tests/cases/*.txt (format: README.md
// there), each a test of its own on a throw-away panel tree. Every run is
// bounded in time and memory and traced: it opens nothing of the test's files
// but the panel's own, never a catalog or the network, and a run that printed
// the usage opened nothing of the panel.
#include <gtest/gtest.h>

#include "CaseRun.h"
#include "FaultLoop.h"

namespace {

const bool kRegistered = [] {
    for (const Case& c : LoadCases()) {
        struct CaseTest : testing::Test {
            explicit CaseTest(Case c) : case_(std::move(c)) {}
            void TestBody() override {
                // The loops come last, each over the panel the lines before them lay.
                const size_t at = CaseRun().Play(case_);
                for (size_t loop = at; loop < case_.lines.size(); ++loop) {
                    RunLoop(case_, at, case_.lines[loop]);
                }
            }
            Case case_;
        };
        // The file's name: no dash, which --gtest_filter would read as "but not".
        const std::string suite = c.name.substr(0, c.name.find('.'));
        testing::RegisterTest(suite.c_str(), c.name.substr(suite.size() + 1).c_str(), nullptr,
                              nullptr, __FILE__, __LINE__,
                              [c]() -> testing::Test* { return new CaseTest(c); });
    }
    return true;
}();

}  // namespace
