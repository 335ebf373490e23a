#pragma once

#include <string>

// Replaces the file at path with content so that a crash or a failed write
// leaves either the old or the new content: a temporary file in the target's
// own directory is written, flushed to storage and renamed over the target,
// then the directory is flushed. A symbolic link at path stays as it is and
// the file it points to is replaced. The permission bits and owner of the
// replaced file are kept. On failure the target is untouched and the
// temporary file is gone.
bool ReplaceFileDurably(const char* path, const std::string& content);

// Readies a name for a write that creates or truncates the file there: a
// symbolic link or a second hard link at the name is removed, so that the
// write cannot reach a file elsewhere. False when the name cannot be freed.
bool DetachName(const char* path);

// Flushes an already written file to storage.
bool FlushFileToStorage(const char* path);

// Flushes a directory's entries (renames, links, removals) to storage.
bool FlushDirectory(const char* directory);
