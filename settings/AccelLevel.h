#pragma once

// Translation between a level (0 to 3) and the settings file, through the
// process-wide thresholds.

const char* BoolToStr(bool value);

// Reads the settings file; level is -1 when it could not be read.
bool GetAccelValue(long& level);

// Rewrites the settings file with switch 1 set to enable and, when enabling,
// the given sensitivity. The file must already hold a complete record.
bool SetAccelValue(bool enable, float value);

// Reads the level from the settings file and prints it on standard output;
// false when either fails.
bool PerformGetRequest();
