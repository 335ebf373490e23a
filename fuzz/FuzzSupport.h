#pragma once

// Helpers shared by the fuzz targets.

#include <cstddef>
#include <cstdint>
#include <string>

// Stops the run with a message when a property of the program does not hold;
// libFuzzer then keeps the input as a crash.
void Require(bool holds, const char* property);

// A scratch directory for the files of one target, on a memory file system
// where there is one (flushes cost nothing there). Made once per process and
// removed at its exit.
const std::string& ScratchDirectory();

// Silences the XML library's reports about malformed input.
void QuietXmlLibrary();

void WriteBytes(const std::string& path, const uint8_t* data, size_t size);
std::string ReadBytes(const std::string& path);
