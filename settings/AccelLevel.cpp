#include "settings/AccelLevel.h"

#include <cstdio>

#include "common/Diagnostics.h"
#include "common/GlobalState.h"
#include "common/PanelPaths.h"
#include "settings/CorvelAccelSettings.h"

const char* BoolToStr(bool value) {
    return value ? "true" : "false";
}

namespace {

// Level 0 when switched off; otherwise 1, 2 or 3 by the thresholds, compared
// in double precision.
long LevelOfSensitivity(bool enabled, float sensitivity) {
    if (!enabled) {
        return 0;
    }
    const double stored = sensitivity;
    if (stored >= static_cast<double>(thresholds[1])) {
        return 1;
    }
    if (stored >= static_cast<double>(thresholds[2])) {
        return 2;
    }
    return 3;
}

void ShowRecord(const char* lead, const CCorvelAccelSettings& settings) {
    Verbose("%s [%s] [%s] [%s] [%s] [%f]\n", lead, BoolToStr(settings.bEnabled),
            BoolToStr(settings.bSwitch2), BoolToStr(settings.bSwitch3),
            BoolToStr(settings.bSwitch4), static_cast<double>(settings.fSensitivity));
}

}  // namespace

bool GetAccelValue(long& level) {
    level = -1;
    CCorvelAccelSettings settings;
    if (!settings.LoadSettingsFromFile(PanelPath(kAccelConfPath))) {
        return false;
    }
    ShowRecord("GetAccelValue", settings);
    level = LevelOfSensitivity(settings.bEnabled, settings.fSensitivity);
    Verbose("GetAccelValue : mapped to [%ld]\n", level);
    return true;
}

bool SetAccelValue(bool enable, float value) {
    const char* path = PanelPath(kAccelConfPath);
    CCorvelAccelSettings settings;
    if (!settings.LoadSettingsFromFile(path)) {
        return false;
    }
    ShowRecord("SetAccelValue : retrieved", settings);
    settings.bEnabled = enable;
    if (enable) {
        settings.fSensitivity = value;
    }
    ShowRecord("SetAccelValue : modifying to", settings);
    if (!settings.WriteSettingsToFile(path)) {
        Verbose("SetAccelValue : MODIFY FAILED\n");
        return false;
    }
    Verbose("SetAccelValue : modify successful\n");
    return true;
}

bool PerformGetRequest() {
    Verbose("performing a get request\n");
    long level = -1;
    // The level is the answer: a get that could not deliver it (standard
    // output closed, or a full disk behind a redirection) failed too.
    if (!GetAccelValue(level) || std::printf("%ld\n", level) < 0 || std::fflush(stdout) != 0) {
        Verbose("GET FAILED\n");
        return false;
    }
    Verbose("get successful[%ld]\n", level);
    return true;
}
