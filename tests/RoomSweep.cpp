// "room ARGS / ARGS...": a nearly full flash. The case's panel is laid on a
// file system of its own, which is then left with from two pages less to one
// page more free than one new copy of the document needs, beside everything
// already there; at each size the command lines run one after the other.
// Each succeeds exactly when there is that room, and leaves each store whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "CaseRun.h"
#include "FaultLoop.h"

void RunRoomSweep(const Case& c, size_t at, const Words& args) {
    const std::vector<Words> commands = CommandLines(args);
    // What each command leaves, and the room the largest new document needs.
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    CaseRun healthy;
    healthy.Play(c, at);
    std::vector<std::array<std::string, 2>> after;
    size_t need = 0;
    for (const Words& command : commands) {
        ASSERT_EQ(healthy.tree_.Run(command).status, 0);
        after.push_back(healthy.Stores());
        need = std::max(need, (after.back()[1].size() + page - 1) / page * page);
    }
    for (long pages = -2; pages <= 1; ++pages) {
        CaseRun panel(true);
        panel.Play(c, at);
        if (!panel.tree_.LeaveFree(need + static_cast<size_t>(pages) * page)) {
            GTEST_SKIP() << "no file system of its own can be mounted here";
        }
        for (size_t index = 0; index < commands.size(); ++index) {
            const auto before = panel.Stores();
            const RunResult run = panel.tree_.Run(commands[index]);
            const auto [settings, nvm] = panel.Stores();
            const std::string what = std::to_string(pages) + " pages, run " + std::to_string(index);
            EXPECT_EQ(run.status, pages >= 0 ? 0 : 1) << what << run.err;
            EXPECT_TRUE(settings == before[0] || settings == after[index][0]) << what << settings;
            EXPECT_TRUE(nvm == before[1] || nvm == after[index][1]) << what;
            EXPECT_TRUE(run.status != 0 || panel.Stores() == after[index]) << what;
        }
    }
}
