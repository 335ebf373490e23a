#pragma once

// Writes the usage text, with the version line, to standard output.
void PrintUsage();
