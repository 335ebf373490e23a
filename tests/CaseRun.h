#pragma once

// One case played on a panel of its own: each line of the table is a
// directive that lays the panel, runs the program or checks what it left.
#include <array>
#include <string>

#include "CaseTables.h"
#include "PanelTree.h"

class CaseRun {
  public:
    explicit CaseRun(bool ownFileSystem = false) : tree_(ownFileSystem) {}

    // Plays the case's lines up to the first loop directive, or upTo;
    // returns where it stopped.
    size_t Play(const Case& c, size_t upTo = SIZE_MAX);

    // The command prefix of a run traced into trace (read by ReadTrace), with
    // the case's own strace words and the given ones; with no trace file,
    // traced only for the case's own words.
    Words Traced(const std::string& trace, const Words& more = {}, const Words& limits = {}) const;

    // The settings file, or what is mounted over it, and the NVM document.
    std::array<std::string, 2> Stores() const;

    PanelTree tree_;
    std::string settings_ = tree_.Settings();
    Words strace_;
    Words through_;  // a command in front of the next run's program

  private:
    std::string Path(const std::string& word) const {
        return word[0] == '/' ? word : tree_.Root() + "/" + word;
    }
    // Directives that lay the panel, and those that check the last run.
    void Lay(const std::string& key, const Words& w, const std::string& path,
             const std::string& text);
    void Check(const std::string& key, const Words& w, const std::string& path,
               const std::string& text);
    void Run(const Words& args);
    void Concurrent(int seconds, const Words& w);
    static Words Limits();

    RunResult run_{};
    std::string before_;
    std::string cwd_;
    Words mount_;
};

// Whether a line starts one of the loops that come last in a case, each
// over the panel the lines before it lay ("faults", "crashes"...).
bool IsLoop(const std::string& key);
