#include "FaultLoop.h"

#include <gtest/gtest.h>

#include <iostream>
#include <iterator>
#include <set>
#include <sstream>

#include "CaseRun.h"
#include "SyscallTrace.h"

namespace {

// "faults ARGS" and "crashes ARGS": the lines of the case before it lay a
// panel, and a healthy run of ARGS there shows the state-changing system
// calls. Each fails in turn with each error of its kind, or the run is killed
// just before it or just after it takes effect. Both stores must stay whole
// and the next run must complete the set. The healthy run's trace also shows
// the order in which the set reaches storage.
class FaultLoop {
  public:
    FaultLoop(const Case& c, size_t at, const std::string& line) : case_(c), at_(at) {
        std::istringstream words(line);
        words >> kind_;
        args_.assign(std::istream_iterator<std::string>(words), {});
    }

    void Run() {
        if (kind_ == "oom") {
            return OutOfMemory();
        }
        const bool crash = kind_ == "crashes";
#ifdef __SANITIZE_ADDRESS__
        constexpr bool kSanitized = true;
#else
        constexpr bool kSanitized = false;
#endif
        if (crash && kWrapped) {
            GTEST_SKIP() << "a killed run has no memory errors to report";
        }
        Discover(crash && kLongTests);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
        std::set<std::string> done;  // after one call is before the next
        for (const Step& step : steps_) {
            const std::string on = " (" + step.call.FdPath() + step.call.Path() + ")";
            // Killed at entry to the call, before it takes effect, and at entry
            // to the next one, after it took effect.
            for (const Syscall* call :
                 {&step.call, step.kind != nullptr ? &step.next : &step.call}) {
                const std::string spec =
                    call->name + ":signal=SIGKILL:when=" + std::to_string(call->nth);
                if (crash && done.insert(spec).second) {
                    Check(Injected(spec), true, spec + on);
                }
            }
            if (crash || step.kind == nullptr) {
                continue;
            }
            // Under a checker, every failure path once is enough.
            Words errors = step.kind->errors;
            if (kWrapped) {
                errors.resize(1);
            } else if (kLongTests) {
                errors.insert(errors.end(), step.kind->moreErrors.begin(),
                              step.kind->moreErrors.end());
            }
            const std::string at = step.call.name + ":error=";
            const std::string when = ":when=" + std::to_string(step.call.nth);
            for (const std::string& error : errors) {
                Check(Injected(at + error + when), false, at + error + when + on);
            }
            // A full flash stays full: this call and every later one of its kind
            // fail (writes only without a sanitizer or valgrind, which write to
            // pipes of their own and stop when that fails).
            const bool ownWrites = kSanitized && step.kind == &kKinds[kWrite];
            if (!kWrapped && !ownWrites) {
                Check(Injected(at + errors[0] + when + "+"), false,
                      at + errors[0] + when + "+" + on);
            }
        }
        std::cout << "[ reliability ] " << case_.name << ": " << steps_.size() << " steps, "
                  << runs_ << " runs" << std::endl;
    }

  private:
    struct Step {
        Syscall call;
        Syscall next;
        const Kind* kind;  // nullptr: a crash point only
    };

    void Discover(bool everyCall) {
        CaseRun healthy;
        healthy.Play(case_, at_);
        before_ = healthy.Stores();
        const std::string trace = healthy.tree_.Root() + "/../trace";
        ASSERT_EQ(healthy.tree_.Run(args_, "", healthy.Traced(trace)).status, 0);
        after_ = healthy.Stores();
        alwaysFails_ = Joined(healthy.strace_, 0);
        const std::vector<Syscall> calls = ReadTrace(trace, healthy.tree_.Root());
        CheckDurabilityOrder(calls, healthy.tree_);
        const std::string& root = healthy.tree_.Root();
        const std::string base = root.substr(0, root.rfind('/'));  // with the output files
        std::set<std::string> dirty;  // written or flushed since opened
        bool inTree = false;
        for (size_t index = 0; index + 1 < calls.size(); ++index) {
            const Syscall& call = calls[index];
            inTree = inTree || call.Below(root);
            const Kind* kind = KindOf(call.name);
            // The program's own calls only, not those of a sanitizer or checker.
            bool step = kind != nullptr && call.Below(base) &&
                        alwaysFails_.find(call.name) == std::string::npos;
            if (kind == &kKinds[kOpen]) {
                step = step && call.args.find("O_RDONLY") == std::string::npos;
                dirty.erase(call.FdPath(true));
            } else if (kind == &kKinds[kWrite] || kind == &kKinds[kFlush]) {
                dirty.insert(call.FdPath());
            } else if (kind == &kKinds[kClose]) {
                step = step && dirty.erase(call.FdPath()) > 0;
            }
            if (step || (everyCall && inTree)) {
                steps_.push_back({call, calls[index + 1], step ? kind : nullptr});
            }
        }
    }

    // One faulty run on a freshly laid panel, then the checks and the next run.
    // "oom ARGS": every allocation of a healthy run fails in turn, once and
    // from then on (once only under a checker); each run ends with status 0
    // or 1, leaves each store whole and no temporary file.
    void OutOfMemory() {
        CaseRun healthy;
        healthy.Play(case_, at_);
        before_ = healthy.Stores();
        const RunResult counting = healthy.tree_.Run(args_, "", Failing("0"));
        after_ = healthy.Stores();
        const auto counted = counting.err.rfind("dolvin-sandbox: ");
        ASSERT_NE(counted, std::string::npos) << counting.err;
        const int allocations = std::stoi(counting.err.substr(counted + 16));
        for (int nth = 1; nth <= allocations; ++nth) {
            for (const char* onward : {"", "+"}) {
                if (onward[0] == '\0' || !kWrapped) {
                    Check(Failing(std::to_string(nth) + onward), false,
                          "allocation " + std::to_string(nth) + onward);
                }
            }
        }
        std::cout << "[ reliability ] " << case_.name << ": " << allocations << " allocations, "
                  << runs_ << " runs" << std::endl;
    }

    static Words Failing(const std::string& nth) {
        return {"env", "DOLVIN_FAIL_ALLOCATION=" + nth};
    }
    static Words Injected(const std::string& inject) {
        return {"-e", "inject=" + inject};
    }

    void Check(const Words& injected, bool crash, const std::string& what) {
        CaseRun panel;
        panel.Play(case_, at_);
        const PanelTree& tree = panel.tree_;
        const std::string temporary = tree.Settings() + ".tmp";
        const std::string leftover = Exists(temporary) ? ReadFile(temporary) : "";
        const std::string trace = kind_ == "oom" ? "" : "/dev/null";
        const RunResult run = tree.Run(args_, "", panel.Traced(trace, injected));
        const auto [settings, nvm] = panel.Stores();
        // A rewrite in place cut short holds the old line grown with NULs to a
        // longer new one's length, or the new line and the old one's tail; a
        // leftover temporary file stays only while removing fails.
        const size_t shorter = std::min(after_[0].size(), before_[0].size());
        const std::set<std::string> whole = {
            before_[0], after_[0], before_[0] + std::string(after_[0].size() - shorter, '\0'),
            after_[0] + before_[0].substr(shorter)};
        EXPECT_EQ(whole.count(settings), 1U) << what << settings;
        EXPECT_TRUE(nvm == before_[1] || nvm == after_[1]) << what << nvm.substr(0, 300);
        EXPECT_TRUE(crash ? run.status == 128 + 9 : run.status <= 1) << what << run.err;
        EXPECT_TRUE(crash || !Exists(temporary) || ReadFile(temporary) == leftover) << what;
        // Only a failed rotation leaves the new document for the next run.
        EXPECT_TRUE(kind_ != "oom" || !Exists(tree.Nvm("newNVM.xml"))) << what;
        EXPECT_TRUE(run.status != 0 || (settings == after_[0] && nvm == after_[1])) << what;
        // Whatever the run left, the next run completes it (out of memory
        // leaves nothing a fault of storage does not).
        ++runs_;
        if (kind_ == "oom") {
            return;
        }
        const RunResult again = tree.Run(args_, "", panel.Traced(trace));
        ++runs_;
        EXPECT_EQ(again.status, 0) << what << again.err;
        EXPECT_EQ(panel.Stores(), after_) << what;
        EXPECT_FALSE(Exists(temporary) || Exists(tree.Nvm("newNVM.xml"))) << what;
        EXPECT_TRUE(Exists(tree.Nvm("NVM.xml.bak"))) << what;
    }

    const Case& case_;
    size_t at_;
    std::string kind_;  // "faults", "crashes" or "oom"
    Words args_;
    std::array<std::string, 2> before_;
    std::array<std::string, 2> after_;
    std::string alwaysFails_;  // the case's own injections, "link,linkat:error=EPERM" say
    std::vector<Step> steps_;
    int runs_ = 0;
};

}  // namespace

void RunLoop(const Case& c, size_t at, const std::string& line) {
    if (line.rfind("room ", 0) == 0) {
        std::istringstream words(line.substr(5));
        return RunRoomSweep(c, at, Words(std::istream_iterator<std::string>(words), {}));
    }
    FaultLoop(c, at, line).Run();
}
