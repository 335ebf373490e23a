#include "CaseTables.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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
    // Each $NAME once, the longest name that matches (the first from the end);
    // a value put in is not read again (a document may hold "$1").
    std::string text;
    size_t at = 0;
    for (size_t dollar = word.find('$'); dollar != std::string::npos; dollar = word.find('$', at)) {
        auto def = defs.rbegin();
        while (def != defs.rend() && word.compare(dollar + 1, def->first.size(), def->first) != 0) {
            ++def;
        }
        const bool named = def != defs.rend();
        text.append(word, at, dollar - at).append(named ? def->second : "$");
        at = dollar + 1 + (named ? def->first.size() : 0);
    }
    return text.append(word, at);
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
        std::map<std::string, std::vector<std::string>> templates;
        std::string filling;  // the template that the lines below belong to
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("def ", 0) == 0) {
                defs.push_back(line);
            } else if (line.rfind("template ", 0) == 0) {
                filling = line.substr(9);
            } else if (line.rfind("case ", 0) == 0) {  // case NAME [TEMPLATE VALUES...]
                std::istringstream words(line.substr(5));
                std::string name;
                std::string use;
                std::string values;
                std::getline(words >> name >> use >> std::ws, values);
                cases.push_back({file.path().stem().string() + "." + name, defs});
                if (!use.empty()) {
                    cases.back().lines.push_back("values " + values);
                    const std::vector<std::string>& lines = templates.at(use);
                    cases.back().lines.insert(cases.back().lines.end(), lines.begin(), lines.end());
                }
                filling.clear();
            } else if (!line.empty() && line[0] != '#') {
                (filling.empty() ? cases.back().lines : templates[filling]).push_back(line);
            }
        }
    }
    return cases;
}
