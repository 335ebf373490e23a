#pragma once

#include <cstddef>
#include <string>

// Replaces the file at path with content so that a crash or a failed write
// leaves either the old or the new content: a temporary file in the target's
// own directory is written, flushed to storage and renamed over the target,
// then made durable there (FlushRenamed). A symbolic link at path stays as it
// is and the file it points to is replaced. The permission bits and owner of
// the replaced file are kept. On failure the target is untouched and the
// temporary file is gone.
//
// Where that cannot be done (the temporary file cannot be made or the rename
// is refused) an existing file is rewritten in place instead, each change of
// length flushed apart from the change of content: at every moment, and after
// a power cut, it starts with the old content or the whole new content.
bool ReplaceFileDurably(const char* path, const std::string& content);

// The directory part of a path: "." when it has none.
std::string DirectoryOf(const std::string& path);

// Readies a name for a write that creates or truncates the file there: a
// symbolic link or a second hard link at the name is removed, so that the
// write cannot reach a file elsewhere. False when the name cannot be freed.
bool DetachName(const char* path);

// Writes all length bytes at the file's offset, going on after partial
// writes and interruptions.
bool WriteAll(int fd, const char* data, size_t length);

// Creates the file name, which must not exist, with the bytes that the
// descriptor from reads from where it stands to its end, and flushes it to
// storage. On failure nothing is left at name.
bool CopyToNewFile(int from, const char* name);

// Puts a file that a rename made live at its name on storage: first its
// directory (the old name gone), then the file itself, whose entry vfat
// writes only when the file is flushed. The caller holds the file it replaced
// open until this returns: vfat frees that file's clusters when its last
// descriptor closes, and the entry on storage points at them until then.
bool FlushRenamed(const char* directory, const char* file);

// Flushes an already written file to storage.
bool FlushFileToStorage(const char* path);

// Flushes a directory's entries (renames, links, removals) to storage.
bool FlushDirectory(const char* directory);
