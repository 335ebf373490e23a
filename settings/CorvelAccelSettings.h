#pragma once

// In-memory copy of the accelerometer settings file: one line of four on/off
// switches and a sensitivity, for example "true true true true 0.5 \n".
class CCorvelAccelSettings {
  public:
    CCorvelAccelSettings() = default;
    virtual ~CCorvelAccelSettings() = default;

    // True when a complete record was read. A failed read leaves the values
    // as they were; bLoaded turns false once the file was opened.
    bool LoadSettingsFromFile(const char* path);

    // True when the whole line was durably written in place of the file.
    // A non-finite sensitivity is refused: no reader could take it back.
    bool WriteSettingsToFile(const char* path) const;

    bool bEnabled = true;
    bool bSwitch2 = true;
    bool bSwitch3 = true;
    bool bSwitch4 = true;
    float fSensitivity = 0.5F;
    bool bLoaded = false;
};

bool operator==(CCorvelAccelSettings& left, CCorvelAccelSettings& right);
bool operator!=(CCorvelAccelSettings& left, CCorvelAccelSettings& right);
