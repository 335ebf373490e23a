#pragma once

// Translation between a level (0 to 3) and the settings file, through the
// process-wide thresholds.

const char* BoolToStr(bool value);

// Level 0 when switched off; otherwise 1, 2 or 3 by the thresholds, compared
// in double precision.
long LevelOfSensitivity(bool enabled, float sensitivity);

// Reads the settings file; level is -1 when it could not be read.
bool GetAccelValue(long& level);

// Rewrites the settings file with switch 1 set to enable and, when enabling,
// the given sensitivity. The file must already hold a complete record.
bool SetAccelValue(bool enable, float value);
