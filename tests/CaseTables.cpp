#include "CaseTables.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <sstream>

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool Exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string Joined(const Words& w, size_t from) {
    return std::accumulate(w.begin() + static_cast<long>(std::min(from, w.size())), w.end(),
                           std::string());
}

std::vector<Words> CommandLines(const Words& w) {
    std::vector<Words> commands(1);
    for (const std::string& word : w) {
        if (word == "/") {
            commands.emplace_back();
        } else {
            commands.back().push_back(word);
        }
    }
    return commands;
}

namespace {

// One word: "C-escaped"*N, @fixture, bare; $name in it takes a def's value.
std::string Word(std::istream& in, const Defs& defs) {
    std::string word;
    if (in.peek() == '"') {
        in.get();
        for (char c = 0; in.get(c) && c != '"'; word += c) {
            if (c == '\\' && in.get(c)) {
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
            }
        }
        long times = 1;
        if (in.peek() == '*' && in.get() && in >> times) {
            for (const std::string once = word; --times > 0;) {
                word += once;
            }
        }
    } else if (in >> word && word[0] == '@') {
        return ReadFile(std::string(DOLVIN_TEST_DATA) + "/" + word.substr(1));
    }
    for (auto def = defs.rbegin(); def != defs.rend(); ++def) {  // longer names first
        word = Replaced(word, "$" + def->first, def->second);
    }
    return word;
}

}  // namespace

std::string LineWords(const std::string& text, const Defs& defs, const std::string& root,
                      Words& words) {
    std::istringstream line(text);
    std::string key;
    for (line >> key >> std::ws; line && !line.eof(); line >> std::ws) {
        words.push_back(Replaced(Word(line, defs), "ROOT", root));
    }
    return key;
}

std::vector<Case> LoadCases() {
    std::vector<Case> cases;
    for (const auto& file : fs::directory_iterator(DOLVIN_TEST_CASES)) {
        std::ifstream in(file.path().extension() == ".txt" ? file.path() : "");
        std::vector<std::string> defs;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("def ", 0) == 0) {
                defs.push_back(line);
            } else if (line.rfind("case ", 0) == 0) {
                cases.push_back({file.path().stem().string() + "." + line.substr(5), defs});
            } else if (!line.empty() && line[0] != '#') {
                cases.back().lines.push_back(line);
            }
        }
    }
    return cases;
}
