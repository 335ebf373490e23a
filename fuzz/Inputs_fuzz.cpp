// Every input the program reads, through the code that reads it. The first
// byte picks the input (its value modulo 4; the seeds use '0' to '3') and the
// rest becomes it:
//   0  the command line, words split at NUL bytes: an accepted one is exactly
//      one request, with a level of 0 to 3;
//   1  the panel configuration (an odd first byte: the text of the levels
//      attribute in a healthy document): the threshold table changes all at
//      once or not at all;
//   2  the settings file: a failed read changes nothing, and a record read is
//      written as one well-formed line that reads back as the same record;
//   3  NVM.xml, its first byte picking the level (modulo 4) and --v (bit 2):
//      a failed update leaves the file as it was, a successful one the level
//      in the element and the former file as the backup; never a newNVM.xml,
//      always the same working directory.
// Built with DOLVIN_FUZZ it is a libFuzzer program (scripts/fuzz); otherwise
// its main runs the inputs in the directories it is given once each, so every
// seed and every input that once crashed stays a regression case.
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/AccelCmd.h"
#include "common/GlobalState.h"
#include "common/PanelPaths.h"
#include "nvm/NvmSensitivity.h"
#include "panel/LevelThresholds.h"
#include "settings/CorvelAccelSettings.h"
#include "xml/XmlHandles.h"

namespace {

namespace fs = std::filesystem;

// Stops the run when a property does not hold; libFuzzer keeps the input.
void Require(bool holds, const char* property) {
    if (!holds) {
        static_cast<void>(std::fprintf(stderr, "property violated: %s\n", property));
        std::abort();
    }
}

// On a memory file system where there is one: flushes cost nothing there.
struct Scratch {
    Scratch() : path(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") {
        path += "/dolvin-fuzz-XXXXXX";
        Require(mkdtemp(path.data()) != nullptr, "scratch directory made");
        setenv("DOLVIN_SANDBOX_ROOT", path.c_str(), 1);
        fs::create_directories(path + kNvmDirectory);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string path;
};

const std::string& ScratchDirectory() {
    static const Scratch scratch;
    return scratch.path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    Require(out.good(), "scratch file written");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void CommandLine(const std::string& input) {
    std::vector<std::string> words = {"dolvin"};
    std::istringstream in(input);
    for (std::string word; words.size() <= 6 && std::getline(in, word, '\0');) {
        words.push_back(word);
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    if (!ProcessCmdLine(argc, argv.data())) {
        return;
    }
    Require(bCmdSet != bCmdGet, "one request");
    Require(argc >= 2 && argc <= 4, "two to four words");
    if (bCmdSet) {
        Require(gParameterValue >= 0 && gParameterValue <= 3, "a level of 0 to 3");
    } else {
        Require(gParameterValue == -1, "no level for --get");
        Require(argc == (bVerbose ? 3 : 2), "--get alone or with --v");
    }
}

void PanelDocument(const std::string& input) {
    const std::string path = ScratchDirectory() + "/panel_config.xml";
    const bool levelsOnly = !input.empty() && (input[0] & 1) != 0;
    WriteFile(path, levelsOnly ? "<panelConfig><panelHardware><accelCtlr levels=\"" +
                                     input.substr(1) + "\"/></panelHardware></panelConfig>"
                               : input);
    const float sentinel[kThresholdCount] = {-1.0F, -2.0F, -3.0F, -4.0F};
    std::copy(std::begin(sentinel), std::end(sentinel), thresholds);
    if (!GetJOVAccelMapping(path.c_str())) {
        Require(std::equal(std::begin(sentinel), std::end(sentinel), thresholds),
                "a failed load leaves the table as it was");
    }
}

void SettingsFile(const std::string& input) {
    const std::string path = ScratchDirectory() + "/accel.conf";
    WriteFile(path, input);
    CCorvelAccelSettings read;
    read.bSwitch3 = false;
    read.fSensitivity = 7.0F;
    if (!read.LoadSettingsFromFile(path.c_str())) {
        Require(!read.bLoaded && read.bEnabled && !read.bSwitch3 && read.fSensitivity == 7.0F,
                "a failed read changes nothing");
        return;
    }
    Require(std::isfinite(read.fSensitivity), "what is read is finite");
    const std::string copy = ScratchDirectory() + "/copy.conf";
    Require(read.WriteSettingsToFile(copy.c_str()), "what is read can be written");
    static const std::regex writtenLine("((true|false) ){4}[^ \n]+ \n");
    Require(std::regex_match(ReadFile(copy), writtenLine),
            "one line of four switches and a number");
    CCorvelAccelSettings again;
    Require(again.LoadSettingsFromFile(copy.c_str()) && again == read, "reads back the same");
}

std::string SensitivityValue(const std::string& path) {
    const XmlDocPtr doc(xmlReadFile(path.c_str(), nullptr, 0));
    Require(doc != nullptr, "the new document reads back");
    const XPathContextPtr context(xmlXPathNewContext(doc.get()));
    const XPathObjectPtr result(xmlXPathEvalExpression(
        BAD_CAST "/NVM/UISettings/accelerometerSetting/sensitivity[1]/node()[1]", context.get()));
    Require(SelectedNodeCount(result.get()) > 0, "the sensitivity element is there");
    const XmlStringPtr value(xmlNodeGetContent(result->nodesetval->nodeTab[0]));
    return value ? reinterpret_cast<const char*>(value.get()) : "";
}

void NvmDocument(const std::string& input) {
    if (input.empty()) {
        return;
    }
    const std::string directory = ScratchDirectory() + kNvmDirectory + "/";
    for (const char* name : {"NVM.xml.bak", "NVM.xml.ori", "newNVM.xml"}) {
        unlink((directory + name).c_str());
    }
    const std::string original = input.substr(1);
    WriteFile(directory + "NVM.xml", original);
    const int level = static_cast<unsigned char>(input[0]) % 4;
    bVerbose = (input[0] & 4) != 0;
    const fs::path before = fs::current_path();
    const bool updated = SetJOVAccelNVM(level);
    Require(fs::current_path() == before, "back in the working directory");
    Require(access((directory + "newNVM.xml").c_str(), F_OK) != 0, "no newNVM.xml left");
    if (!updated) {
        Require(ReadFile(directory + "NVM.xml") == original,
                "a failed update leaves NVM.xml as it was");
        return;
    }
    Require(ReadFile(directory + "NVM.xml.bak") == original, "the backup is the former file");
    Require(SensitivityValue(directory + "NVM.xml") == std::to_string(level),
            "the level is in the element");
}

// The library's report callback is printf-style.
void IgnoreXmlReport(void* /*context*/, const char* /*format*/, ...) {}  // NOLINT(cert-dcl50-cpp)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, IgnoreXmlReport);
    bCmdSet = bCmdGet = bVerbose = false;
    gParameterValue = -1;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0:
            CommandLine(input);
            break;
        case 1:
            PanelDocument(input);
            break;
        case 2:
            SettingsFile(input);
            break;
        default:
            NvmDocument(input);
    }
    xmlCleanupParser();
    return 0;
}

#ifndef DOLVIN_LIBFUZZER
// Options (arguments starting with "-") are libFuzzer's and are ignored. A
// directory that cannot be read ends the replay with an exception: it fails.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
    size_t replayed = 0;
    for (int index = 1; index < argc; ++index) {
        if (argv[index][0] == '-') {
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(argv[index])) {
            const std::string bytes = entry.is_regular_file() ? ReadFile(entry.path()) : "";
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            replayed += entry.is_regular_file() ? 1 : 0;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed == 0 ? 1 : 0;
}
#endif
