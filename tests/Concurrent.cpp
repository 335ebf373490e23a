// The "concurrent" directive: the UI and scripts running dolvin at once.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <iostream>
#include <set>

#include "CaseRun.h"

// Each command line (separated by "/") in a loop of its own for seconds, all
// at once, while the stores are read every 2 ms: each always holds what one
// of the command lines leaves when run alone, every run succeeds, and at the
// end both stores hold the result of the same one.
void CaseRun::Concurrent(int seconds, const Words& w) {
    const std::vector<Words> commands = CommandLines(w);
    std::set<std::array<std::string, 2>> results = {Stores()};
    for (const Words& args : commands) {
        tree_.Run(args);
        results.insert(Stores());
    }
    std::array<std::set<std::string>, 2> whole;
    for (const auto& [settings, nvm] : results) {
        whole[0].insert(settings);
        whole[1].insert(nvm);
    }
    const Words loop = {"bash", "-c",
                        R"(end=$1 runs=0 failed=0; shift; while [ $SECONDS -lt $end ]; do
               out=$("$@") || failed=$((failed + 1));
               [[ $out =~ ^([0-3]|xpath\ returned\ 1\ nodes)$ ]] || failed=$((failed + 1));
               runs=$((runs + 1)); done; echo "$runs runs, $failed failed")",
                        "loop", std::to_string(seconds)};
    std::vector<std::future<RunResult>> workers;
    for (const Words& args : commands) {
        workers.push_back(std::async(std::launch::async,
                                     [this, &loop, args] { return tree_.Run(args, "", loop); }));
    }
    int moments = 0;
    for (; workers[0].wait_for(std::chrono::milliseconds(2)) != std::future_status::ready &&
           !testing::Test::HasFailure();
         ++moments) {
        const auto stores = Stores();
        EXPECT_EQ(whole[0].count(stores[0]), 1U) << stores[0];
        EXPECT_EQ(whole[1].count(stores[1]), 1U) << stores[1];
    }
    for (auto& worker : workers) {
        const std::string out = worker.get().out;
        std::cout << "[ concurrency ] " << out;
        EXPECT_NE(out.find(" 0 failed"), std::string::npos);
    }
    std::cout << "[ concurrency ] " << moments << " moments checked" << std::endl;
    EXPECT_EQ(results.count(Stores()), 1U);
}
