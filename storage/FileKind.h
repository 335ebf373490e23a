#pragma once

// Whether path names a FIFO, a socket or a device rather than a file or a
// directory. Opening or reading such a thing in place of a document can wait
// forever (a FIFO without a writer), so it is never read as one.
bool IsPipeOrDevice(const char* path);
