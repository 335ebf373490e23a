// Several runs at once over one panel, as the panel's UI and a script may
// start them: every set and get succeeds, and no moment shows a store
// missing, empty or partial.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <set>
#include <thread>

#include "tests/PanelTree.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(Concurrency, OverlappingSetsAndGetsSeeWholeStores) {
    PanelTree tree;
    const std::set<std::string> lines = {kHealthySettings, "true true true true 0.25 \n",
                                         "true true true true 0.125 \n"};
    std::set<std::string> documents;
    for (const char* level : {"1", "2", "3"}) {
        documents.insert(NvmXml(std::string("<sensitivity>") + level + "</sensitivity>"));
    }
    const auto end = Clock::now() + std::chrono::seconds(8);
    // Three setters of levels 1 to 3 and a getter, each a process of its own
    // whose exit status counts its failed runs.
    std::vector<pid_t> workers;
    for (int worker = 1; worker <= 4; ++worker) {
        const pid_t pid = fork();
        if (pid == 0) {
            int failures = 0;
            int runs = 0;
            for (; Clock::now() < end; ++runs) {
                const RunResult run =
                    worker < 4 ? tree.Run({"--set", std::to_string(worker)}) : tree.Run({"--get"});
                failures += run.status != 0 || (worker == 4 && run.out.size() != 2);
            }
            std::cout << "[ concurrency ] " << (worker < 4 ? "setter " : "getter ") << worker
                      << ": " << runs << " runs, " << failures << " failed" << std::endl;
            _exit(std::min(failures, 100));
        }
        workers.push_back(pid);
    }
    int moments = 0;
    for (; Clock::now() < end && !HasFailure(); ++moments) {
        EXPECT_EQ(lines.count(ReadFile(tree.Settings())), 1U) << ReadFile(tree.Settings());
        EXPECT_EQ(documents.count(ReadFile(tree.Nvm())), 1U) << ReadFile(tree.Nvm());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (const pid_t pid : workers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed runs: " << status;
    }
    std::cout << "[ concurrency ] watcher: " << moments << " moments checked" << std::endl;
    // Both stores hold the level of the set that ran last.
    const std::string level = tree.Run({"--get"}).out.substr(0, 1);
    EXPECT_NE(ReadFile(tree.Nvm()).find("<sensitivity>" + level + "<"), std::string::npos);
}

}  // namespace
