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
    explicit FieldReader(FILE* file) : file_(file), next_(std::getc(file)) {}

    bool Switch(bool& value) {
        SkipSpace();
        const char* word = next_ == 't' ? "true" : "false";
        for (const char* letter = word; *letter != '\0'; ++letter) {
            if (Take() != *letter) {
                return false;
            }
        }
        value = word[0] == 't';
        return true;
    }

    bool Sensitivity(float& value) {
        SkipSpace();
        std::string number;
        bool sign = true;  // a sign may come first, and right after the exponent marker
        bool point = false;
        bool exponent = false;
        for (;;) {
            const bool marker = (next_ == 'e' || next_ == 'E') && !exponent &&
                                number.find_first_of("0123456789") != std::string::npos;
            if (!marker && !(sign && (next_ == '+' || next_ == '-')) && std::isdigit(next_) == 0 &&
                !(next_ == '.' && !point && !exponent)) {
                break;
            }
            point = point || next_ == '.';
            sign = marker;
            exponent = exponent || marker;
            number += static_cast<char>(Take());
        }
        char* end = nullptr;
        value = std::strtof(number.c_str(), &end);
        return !number.empty() && *end == '\0' && !std::isinf(value);
    }

    bool Failed() const { return std::ferror(file_) != 0; }

  private:
    int Take() {
        const int taken = next_;
        next_ = std::getc(file_);
        return taken;
    }
    void SkipSpace() {
        while (std::isspace(next_) != 0) {
            Take();
        }
    }

    FILE* file_;
    int next_;
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
    // Read into a record of its own: a failed read changes none of the values.
    CCorvelAccelSettings read;
    bool loaded = false;
    try {
        FieldReader fields(file);
        loaded = fields.Switch(read.bEnabled) && fields.Switch(read.bSwitch2) &&
                 fields.Switch(read.bSwitch3) && fields.Switch(read.bSwitch4) &&
                 fields.Sensitivity(read.fSensitivity) && !fields.Failed();
    } catch (...) {
        loaded = false;  // out of memory for a long number
    }
    std::fclose(file);
    if (loaded) {
        *this = read;
    }
    bLoaded = loaded;
    return loaded;
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
