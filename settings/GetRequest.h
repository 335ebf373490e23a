#pragma once

// Reads the level from the settings file and prints it on standard output.
bool PerformGetRequest();
