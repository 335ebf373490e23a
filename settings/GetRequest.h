#pragma once

// Reads the level from the settings file and prints it on standard output;
// false when either fails.
bool PerformGetRequest();
