#include "settings/CorvelAccelSettings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <sstream>
#include <string>

#include "common/FileKind.h"
#include "settings/DurableFile.h"

namespace {

// The sensitivity in %g notation with the fewest significant digits, six at
// least, that read back as the same float. Nine always do.
std::string FormatSensitivity(float value) {
    char text[32];
    for (int digits = 6;; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (digits == 9 || std::strtof(text, nullptr) == value) {
            return text;
        }
    }
}

}  // namespace

bool CCorvelAccelSettings::LoadSettingsFromFile(const char* path) {
    // A pipe or device in place of the file counts as a file that cannot be
    // opened: reading it could wait forever.
    if (path == nullptr || IsPipeOrDevice(path)) {
        return false;
    }
    try {
        std::ifstream file(path);
        if (!file.is_open()) {
            return false;
        }
        file.imbue(std::locale::classic());
        bool enabled = false;
        bool switch2 = false;
        bool switch3 = false;
        bool switch4 = false;
        float sensitivity = 0.0F;
        file >> std::boolalpha >> enabled >> switch2 >> switch3 >> switch4 >> sensitivity;
        if (file.fail()) {
            bLoaded = false;
            return false;
        }
        bEnabled = enabled;
        bSwitch2 = switch2;
        bSwitch3 = switch3;
        bSwitch4 = switch4;
        fSensitivity = sensitivity;
        bLoaded = true;
        return true;
    } catch (...) {
        bLoaded = false;
        return false;
    }
}

bool CCorvelAccelSettings::WriteSettingsToFile(const char* path) const {
    if (path == nullptr || !std::isfinite(fSensitivity)) {
        return false;
    }
    try {
        std::ostringstream line;
        line.imbue(std::locale::classic());
        line << std::boolalpha << bEnabled << ' ' << bSwitch2 << ' ' << bSwitch3 << ' ' << bSwitch4
             << ' ' << FormatSensitivity(fSensitivity) << " \n";
        // A stream that could not grow its buffer fails instead of throwing:
        // the line is then cut short.
        return !line.fail() && ReplaceFileDurably(path, line.str());
    } catch (...) {
        return false;
    }
}

// Both operators take non-constant references: that is their interface.
// cppcheck-suppress constParameter
bool operator==(CCorvelAccelSettings& left, CCorvelAccelSettings& right) {
    return left.bEnabled == right.bEnabled && left.bSwitch2 == right.bSwitch2 &&
           left.bSwitch3 == right.bSwitch3 && left.bSwitch4 == right.bSwitch4 &&
           left.fSensitivity == right.fSensitivity;
}

// cppcheck-suppress constParameter
bool operator!=(CCorvelAccelSettings& left, CCorvelAccelSettings& right) {
    return !(left == right);
}
