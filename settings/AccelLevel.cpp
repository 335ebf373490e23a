#include "settings/AccelLevel.h"

#include "common/Diagnostics.h"
#include "common/GlobalState.h"
#include "common/PanelPaths.h"
#include "settings/CorvelAccelSettings.h"

const char* BoolToStr(bool value) {
    return value ? "true" : "false";
}

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

bool GetAccelValue(long& level) {
    level = -1;
    CCorvelAccelSettings settings;
    if (!settings.LoadSettingsFromFile(PanelPath(kAccelConfPath))) {
        return false;
    }
    Verbose("GetAccelValue [%s] [%s] [%s] [%s] [%f]\n", BoolToStr(settings.bEnabled),
            BoolToStr(settings.bSwitch2), BoolToStr(settings.bSwitch3),
            BoolToStr(settings.bSwitch4), static_cast<double>(settings.fSensitivity));
    level = LevelOfSensitivity(settings.bEnabled, settings.fSensitivity);
    Verbose("GetAccelValue : mapped to [%ld]\n", level);
    return true;
}

namespace {

void ShowRecord(const char* what, const CCorvelAccelSettings& settings) {
    Verbose("SetAccelValue : %s [%s] [%s] [%s] [%s] [%f]\n", what, BoolToStr(settings.bEnabled),
            BoolToStr(settings.bSwitch2), BoolToStr(settings.bSwitch3),
            BoolToStr(settings.bSwitch4), static_cast<double>(settings.fSensitivity));
}

}  // namespace

bool SetAccelValue(bool enable, float value) {
    const char* path = PanelPath(kAccelConfPath);
    CCorvelAccelSettings settings;
    if (!settings.LoadSettingsFromFile(path)) {
        return false;
    }
    ShowRecord("retrieved", settings);
    settings.bEnabled = enable;
    if (enable) {
        settings.fSensitivity = value;
    }
    ShowRecord("modifying to", settings);
    if (!settings.WriteSettingsToFile(path)) {
        Verbose("SetAccelValue : MODIFY FAILED\n");
        return false;
    }
    Verbose("SetAccelValue : modify successful\n");
    return true;
}
