#include "settings/CorvelAccelSettings.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/AccelLevel.h"
#include "storage/DurableFile.h"
#include "storage/FileKind.h"

namespace {

// Reads the fields of the line as the C++ stream extractors do in the classic
// locale: white space skipped before each field, a switch as the word "true"
// or "false", the sensitivity as the longest run of characters that a number
// may have, converted only if the whole run is one.
class FieldReader {
  public:
    explicit FieldReader(FILE* file) : file_(file) { Next(); }

    bool Switch(bool& value) {
        SkipSpace();
        const char* word = next_ == 't' ? "true" : "false";
        for (const char* letter = word; *letter != '\0'; ++letter, Next()) {
            if (next_ != *letter) {
                return false;
            }
        }
        value = word[0] == 't';
        return true;
    }

    bool Sensitivity(float& value) {
        SkipSpace();
        std::string number;
        bool digits = false;
        bool point = false;
        bool exponent = false;
        if (next_ == '+' || next_ == '-') {
            Take(number);
        }
        for (;;) {
            if (next_ >= '0' && next_ <= '9') {
                digits = true;
            } else if (next_ == '.' && !point && !exponent) {
                point = true;
            } else if ((next_ == 'e' || next_ == 'E') && digits && !exponent) {
                exponent = true;
                Take(number);
                if (next_ != '+' && next_ != '-') {
                    continue;
                }
            } else {
                break;
            }
            Take(number);
        }
        char* end = nullptr;
        value = std::strtof(number.c_str(), &end);
        return !number.empty() && *end == '\0' && !std::isinf(value);
    }

    bool Failed() const { return std::ferror(file_) != 0; }

  private:
    void Next() { next_ = std::getc(file_); }
    void Take(std::string& number) {
        number += static_cast<char>(next_);
        Next();
    }
    void SkipSpace() {
        while (std::isspace(next_) != 0) {
            Next();
        }
    }

    FILE* file_;
    int next_ = EOF;
};

// The sensitivity in %g notation with the fewest significant digits, six at
// least, that read back as the same float. Nine always do.
const char* FormatSensitivity(float value, char (&text)[32]) {
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
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return false;
    }
    bool read = false;
    bool enabled = false;
    bool switch2 = false;
    bool switch3 = false;
    bool switch4 = false;
    float sensitivity = 0.0F;
    try {
        FieldReader fields(file);
        read = fields.Switch(enabled) && fields.Switch(switch2) && fields.Switch(switch3) &&
               fields.Switch(switch4) && fields.Sensitivity(sensitivity) && !fields.Failed();
    } catch (...) {
        read = false;
    }
    std::fclose(file);
    bLoaded = read;
    if (read) {
        bEnabled = enabled;
        bSwitch2 = switch2;
        bSwitch3 = switch3;
        bSwitch4 = switch4;
        fSensitivity = sensitivity;
    }
    return read;
}

bool CCorvelAccelSettings::WriteSettingsToFile(const char* path) const {
    if (path == nullptr || !std::isfinite(fSensitivity)) {
        return false;
    }
    char number[32];
    char line[64];
    std::snprintf(line, sizeof line, "%s %s %s %s %s \n", BoolToStr(bEnabled), BoolToStr(bSwitch2),
                  BoolToStr(bSwitch3), BoolToStr(bSwitch4),
                  FormatSensitivity(fSensitivity, number));
    try {
        return ReplaceFileDurably(path, line);
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
