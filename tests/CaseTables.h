#pragma once

// The case tables of tests/cases (their format: README.md there) and the
// file helpers that every part of the case runner shares.
#include <map>
#include <string>
#include <vector>

using Words = std::vector<std::string>;
using Defs = std::map<std::string, std::string>;

// A case as written: its lines, after the defs of its file. Words are made
// only when the case runs: some are many megabytes.
struct Case {
    std::string name;
    std::vector<std::string> lines;
};

// Every case of every table, named FILE.CASE.
std::vector<Case> LoadCases();

// A line's directive, and its words with the defs (and $panel, $conf, $nvm)
// taken in and ROOT made the tree's root.
std::string LineWords(const std::string& text, const Defs& defs, const std::string& root,
                      Words& words);

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
std::string Replaced(std::string text, const std::string& from, const std::string& to);
// The words from from on, joined.
std::string Joined(const Words& w, size_t from);
