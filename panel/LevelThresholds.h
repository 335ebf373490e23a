#pragma once

// Loads the four level thresholds from the "levels" attribute of the panel
// configuration into the process-wide table, all at once or not at all.
bool GetJOVAccelMapping(const char* path);
