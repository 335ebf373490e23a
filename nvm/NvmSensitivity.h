#pragma once

// Writes the level (0 to 3) into the sensitivity element of the NVM defaults
// document, keeping the previous file as its backup.
bool SetJOVAccelNVM(int level);
