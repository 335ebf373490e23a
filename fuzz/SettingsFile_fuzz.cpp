// The settings file text through the reader, and what it read through the
// writer and back: a failed read changes nothing, and every record read is
// written as one well-formed line that reads back as the same record.
#include <cmath>
#include <cstdint>
#include <regex>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "settings/CorvelAccelSettings.h"

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
    static const std::regex writtenLine("((true|false) ){4}[^ \n]+ \n");
    Require(std::regex_match(ReadBytes(copy), writtenLine),
            "one line of four switches and a number");
    CCorvelAccelSettings again;
    Require(again.LoadSettingsFromFile(copy.c_str()) && again == read, "reads back the same");
    return 0;
}
