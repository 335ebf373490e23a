// The settings file text through the reader, and what it read through the
// writer and back: a failed read changes nothing, and every record read is
// written as one well-formed line that reads back as the same record.
#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "settings/CorvelAccelSettings.h"

namespace {

bool IsWrittenLine(const std::string& line) {
    size_t at = 0;
    for (int word = 0; word < 4; ++word) {
        const size_t end = line.find(' ', at);
        const std::string text = line.substr(at, end - at);
        if (end == std::string::npos || (text != "true" && text != "false")) {
            return false;
        }
        at = end + 1;
    }
    return line.size() > at + 2 && line.compare(line.size() - 2, 2, " \n") == 0 &&
           line.find_first_of(" \n", at) == line.size() - 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = ScratchDirectory() + "/accel.conf";
    WriteBytes(path, data, size);
    CCorvelAccelSettings read;
    read.bSwitch3 = false;
    read.fSensitivity = 7.0F;
    if (!read.LoadSettingsFromFile(path.c_str())) {
        Require(!read.bLoaded && read.bEnabled && !read.bSwitch3 && read.fSensitivity == 7.0F,
                "a failed read changes nothing");
        return 0;
    }
    Require(std::isfinite(read.fSensitivity), "what is read is finite");
    const std::string copy = ScratchDirectory() + "/copy.conf";
    Require(read.WriteSettingsToFile(copy.c_str()), "what is read can be written");
    Require(IsWrittenLine(ReadBytes(copy)), "one line of four switches and a number");
    CCorvelAccelSettings again;
    Require(again.LoadSettingsFromFile(copy.c_str()) && again == read, "reads back the same");
    return 0;
}
