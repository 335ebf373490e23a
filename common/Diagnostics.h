#pragma once

// Writes one diagnostic line to standard error, only while --v is on.
void Verbose(const char* format, ...) __attribute__((format(printf, 1, 2)));
