#pragma once

// Writes the level (0 to 3) into the settings file, then into the NVM
// defaults document.
bool PerformSetRequest(long level);
