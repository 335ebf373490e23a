// The panel configuration through the threshold loader. An input whose first
// byte is odd is the text of the levels attribute in a healthy document;
// otherwise it is the whole document. The table changes all at once or not
// at all.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "common/GlobalState.h"
#include "fuzz/FuzzSupport.h"
#include "panel/LevelThresholds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QuietXmlLibrary();
    const std::string path = ScratchDirectory() + "/panel_config.xml";
    if (size > 0 && (data[0] & 1) != 0) {
        const std::string document =
            "<panelConfig><panelHardware><accelCtlr levels=\"" +
            std::string(reinterpret_cast<const char*>(data) + 1, size - 1) +
            "\"/></panelHardware></panelConfig>";
        WriteBytes(path, reinterpret_cast<const uint8_t*>(document.data()), document.size());
    } else {
        WriteBytes(path, data, size);
    }
    const float sentinel[kThresholdCount] = {-1.0F, -2.0F, -3.0F, -4.0F};
    std::copy(std::begin(sentinel), std::end(sentinel), thresholds);
    if (!GetJOVAccelMapping(path.c_str())) {
        Require(std::equal(std::begin(sentinel), std::end(sentinel), thresholds),
                "a failed load leaves the table as it was");
    }
    return 0;
}
