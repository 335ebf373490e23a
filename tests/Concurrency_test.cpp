// Several runs at once over one panel, as the panel's UI and a script may
// start them: every set and get succeeds, and no moment shows a store
// missing, empty or partial.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <iostream>
#include <set>
#include <thread>

#include "tests/PanelTree.h"

namespace {

TEST(Concurrency, OverlappingSetsAndGetsSeeWholeStores) {
    PanelTree tree;
    const std::set<std::string> lines = {kHealthySettings, "true true true true 0.25 \n",
                                         "true true true true 0.125 \n"};
    std::set<std::string> documents;
    for (const char* level : {"1", "2", "3"}) {
        documents.insert(NvmXml(std::string("<sensitivity>") + level + "</sensitivity>"));
    }
    // Three setters of levels 1 to 3 and a getter, each running dolvin in a
    // loop for 8 seconds; each prints its number of runs and of failed ones.
    const std::vector<std::string> loop = {
        "bash", "-c",
        R"(runs=0 failed=0; while [ $SECONDS -lt 8 ]; do out=$("$@") || failed=$((failed + 1));
           [[ $out =~ ^([0-3]|xpath\ returned\ 1\ nodes)$ ]] || failed=$((failed + 1));
           runs=$((runs + 1)); done; echo "$runs runs, $failed failed")",
        "loop"};
    std::vector<std::future<RunResult>> workers;
    for (const char* level : {"1", "2", "3", ""}) {
        workers.push_back(std::async(std::launch::async, [&tree, &loop, level] {
            return tree.Run(*level != '\0' ? std::vector<std::string>{"--set", level}
                                           : std::vector<std::string>{"--get"},
                            "", loop);
        }));
    }
    int moments = 0;
    for (; workers[0].wait_for(std::chrono::milliseconds(2)) != std::future_status::ready &&
           !HasFailure();
         ++moments) {
        EXPECT_EQ(lines.count(ReadFile(tree.Settings())), 1U) << ReadFile(tree.Settings());
        EXPECT_EQ(documents.count(ReadFile(tree.Nvm())), 1U) << ReadFile(tree.Nvm());
    }
    for (auto& worker : workers) {
        const std::string out = worker.get().out;
        std::cout << "[ concurrency ] " << out;
        EXPECT_NE(out.find(" 0 failed"), std::string::npos);
    }
    std::cout << "[ concurrency ] " << moments << " moments checked" << std::endl;
    // Both stores hold the level of the set that ran last.
    const std::string level = tree.Run({"--get"}).out.substr(0, 1);
    EXPECT_NE(ReadFile(tree.Nvm()).find("<sensitivity>" + level + "<"), std::string::npos);
}

}  // namespace
