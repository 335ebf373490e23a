#include "settings/CorvelAccelSettings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads the fields of the settings line as stream extraction in the classic
// locale does (white space skipped before each field, the switches as the
// words true and false, the sensitivity as the longest prefix shaped like a
// decimal number), from a C stream: setting up iostreams and their locale
// took a twentieth of the instructions of a whole get request.
class FieldReader {
  public:
    explicit FieldReader(std::FILE* file) : file_(file), next_(std::getc(file)) {}

    bool ReadSwitch(bool& value) {
        if (!SkipWhiteSpace()) {
            return false;
        }
        const char* word = next_ == 't' ? "true" : "false";
        for (const char* letter = word; *letter != '\0'; ++letter) {
            if (next_ != *letter) {
                return false;
            }
            Advance();
        }
        value = word[0] == 't';
        return true;
    }

    // [sign] digits and at most one point [e [sign] digits]; an exponent
    // needs a digit before it. What was taken must convert as a whole, to a
    // finite value.
    bool ReadSensitivity(float& value) {
        if (!SkipWhiteSpace()) {
            return false;
        }
        std::string text;
        TakeSign(text);
        bool digit = false;
        bool point = false;
        bool exponent = false;
        for (;;) {
            if (next_ >= '0' && next_ <= '9') {
                digit = true;
            } else if (next_ == '.' && !point && !exponent) {
                point = true;
            } else if ((next_ == 'e' || next_ == 'E') && digit && !exponent) {
                exponent = true;
                Take(text);
                TakeSign(text);
                continue;
            } else {
                break;
            }
            Take(text);
        }
        char* end = nullptr;
        const float number = std::strtof(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || std::isinf(number)) {
            return false;
        }
        value = number;
        return true;
    }

  private:
    void Advance() { next_ = std::getc(file_); }
    void Take(std::string& text) {
        text += static_cast<char>(next_);
        Advance();
    }
    void TakeSign(std::string& text) {
        if (next_ == '+' || next_ == '-') {
            Take(text);
        }
    }
    // False at the end of the file.
    bool SkipWhiteSpace() {
        while (next_ == ' ' || (next_ >= '\t' && next_ <= '\r')) {
            Advance();
        }
        return next_ != EOF;
    }

    std::FILE* file_;
    int next_;
};

const char* SwitchWord(bool on) {
    return on ? "true" : "false";
}

}  // namespace

bool CCorvelAccelSettings::LoadSettingsFromFile(const char* path) {
    if (path == nullptr) {
        return false;
    }
    try {
        const std::unique_ptr<std::FILE, FileClose> file(std::fopen(path, "r"));
        if (!file) {
            return false;
        }
        FieldReader reader(file.get());
        bool enabled = false;
        bool switch2 = false;
        bool switch3 = false;
        bool switch4 = false;
        float sensitivity = 0.0F;
        if (!reader.ReadSwitch(enabled) || !reader.ReadSwitch(switch2) ||
            !reader.ReadSwitch(switch3) || !reader.ReadSwitch(switch4) ||
            !reader.ReadSensitivity(sensitivity)) {
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

bool CCorvelAccelSettings::WriteSettingsToFile(const char* path) {
    if (path == nullptr || !std::isfinite(fSensitivity)) {
        return false;
    }
    try {
        const std::string line = std::string(SwitchWord(bEnabled)) + ' ' + SwitchWord(bSwitch2) +
                                 ' ' + SwitchWord(bSwitch3) + ' ' + SwitchWord(bSwitch4) + ' ' +
                                 FormatSensitivity(fSensitivity) + " \n";
        return ReplaceFileDurably(path, line);
    } catch (...) {
        return false;
    }
}

bool operator==(CCorvelAccelSettings& left, CCorvelAccelSettings& right) {
    return left.bEnabled == right.bEnabled && left.bSwitch2 == right.bSwitch2 &&
           left.bSwitch3 == right.bSwitch3 && left.bSwitch4 == right.bSwitch4 &&
           left.fSensitivity == right.fSensitivity;
}

bool operator!=(CCorvelAccelSettings& left, CCorvelAccelSettings& right) {
    return !(left == right);
}
