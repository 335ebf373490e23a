#pragma once

#include <cstddef>
#include <string>

// Replaces the file at path with content so that a crash or a failed write
// leaves either the old or the new content: a temporary file in the target's
// own directory is written, flushed to storage and renamed over the target,
// then flushed again under its name. A symbolic link at path stays as it is
// and the file it points to is replaced. The permission bits and owner of the
// replaced file are kept. On failure the target is untouched and the
// temporary file is gone.
//
// Where that cannot be done (the temporary file cannot be made or the rename
// is refused) an existing file is rewritten in place instead, each change of
// length flushed apart from the change of content: at every moment, and after
// a power cut, it starts with the old content or the whole new content.
bool ReplaceFileDurably(const char* path, const std::string& content);

// The directory part of a path: "." when it has none.
std::string DirectoryOf(const std::string& path);

// Frees a name for a new file: whatever is there (a file left by an
// interrupted run, a symbolic or a second hard link) is removed, so that the
// file is made afresh and no write reaches a file elsewhere or truncates one
// whose entry on storage still names clusters (vfat). False when the name
// cannot be freed.
bool RemoveName(const char* path);

// Writes all length bytes at the file's offset, going on after partial
// writes and interruptions.
bool WriteAll(int fd, const char* data, size_t length);

// Creates the file name in directory, where nothing may have that name, with
// the bytes that the descriptor from reads from where it stands to its end,
// and puts it on storage. On failure nothing is left at name.
bool CopyToNewFile(int from, const char* name, const char* directory);

// Puts a written or renamed file on storage: its directory first, then the
// file. vfat keeps a file's first cluster and size in its directory entry and
// writes them there, before the table of clusters, only when the file itself
// is flushed; flushing the directory first puts the table, with the file's
// clusters, on storage before an entry points at them.
//
// After a rename over a file, the caller holds the replaced file open until
// this returns: vfat frees that file's clusters when its last descriptor
// closes, and the entry on storage points at them until then.
bool FlushFile(int fd, const char* directory);

// FlushFile for the file at path in directory.
bool FlushFileToStorage(const char* path, const char* directory);
