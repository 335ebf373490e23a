// Argument vectors (words split at NUL bytes) into the command-line parser:
// an accepted command line is exactly one request, with a level of 0 to 3.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/AccelCmd.h"
#include "common/GlobalState.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words = {"dolvin"};
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    for (std::string word; words.size() <= 6 && std::getline(in, word, '\0');) {
        words.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    bCmdSet = bCmdGet = bVerbose = false;
    gParameterValue = -1;
    const int argc = static_cast<int>(words.size());
    if (!ProcessCmdLine(argc, argv.data())) {
        return 0;
    }
    Require(bCmdSet != bCmdGet, "one request");
    Require(argc >= 2 && argc <= 4, "two to four words");
    if (bCmdSet) {
        Require(gParameterValue >= 0 && gParameterValue <= 3, "a level of 0 to 3");
    } else {
        Require(gParameterValue == -1, "no level for --get");
        Require(argc == (bVerbose ? 3 : 2), "--get alone or with --v");
    }
    return 0;
}
