#include "storage/DurableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "storage/FileDescriptor.h"

namespace {

constexpr int kMaxLinkHops = 40;  // the kernel's own limit (MAXSYMLINKS)

// Follows symbolic links in the last component until it names something that
// is not a link (or nothing yet): at most kMaxLinkHops of them, as the kernel
// follows when the file is read, so that what a get reads a set can replace.
bool ResolveFinalLink(std::string& path) {
    for (int hop = 0;; ++hop) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            return errno == ENOENT;
        }
        if (!S_ISLNK(info.st_mode)) {
            return true;
        }
        if (hop == kMaxLinkHops) {
            errno = ELOOP;
            return false;
        }
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof target) {
            return false;
        }
        const std::string link(target, static_cast<size_t>(length));
        path = link[0] == '/' ? link : DirectoryOf(path) + "/" + link;
    }
}

// Gives the new file the owner and permission bits of the one it replaces
// (owner first: changing it may clear set-id bits).
bool TakeOverOwnerAndMode(int fd, const struct stat& replaced) {
    struct stat fresh {};
    if (fstat(fd, &fresh) != 0) {
        return false;
    }
    if ((fresh.st_uid != replaced.st_uid || fresh.st_gid != replaced.st_gid) &&
        fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
        return false;
    }
    return fchmod(fd, replaced.st_mode & 07777) == 0;
}

bool FlushDirectory(const char* directory) {
    const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // EINVAL: a file system that cannot flush directories has nothing to flush.
    const bool flushed = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return flushed;
}

bool WriteTemporaryFile(const std::string& temp, const std::string& directory,
                        const std::string& content, const struct stat* replaced) {
    if (!RemoveName(temp.c_str())) {
        return false;
    }
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        replaced != nullptr ? 0600 : 0666);
    if (fd < 0) {
        return false;
    }
    bool ok = (replaced == nullptr || TakeOverOwnerAndMode(fd, *replaced)) &&
              WriteAll(fd, content.data(), content.size()) && FlushFile(fd, directory.c_str());
    return close(fd) == 0 && ok;
}

// Sets a file's length and flushes it to storage.
bool ResizeDurably(int fd, size_t length) {
    return ftruncate(fd, static_cast<off_t>(length)) == 0 && fsync(fd) == 0;
}

// Overwrites an existing file so that a crash or a power cut at any moment
// leaves a file that reads as the old record or the new one. A file system
// may make a change of length durable before a change of data, or after it,
// unless a flush separates them; so each step is flushed before the next:
// a longer record first grows the file with zeros (the old record followed by
// NULs), then the record goes over the old one from offset 0 (the new record,
// perhaps followed by the old one's tail), and only then is the file cut to
// its length. Readers ignore whatever follows the record.
bool RewriteInPlace(const std::string& target, const std::string& content) {
    const int fd = open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    bool ok = fstat(fd, &old) == 0;
    const auto oldLength = static_cast<size_t>(old.st_size);
    ok = ok && (content.size() <= oldLength || ResizeDurably(fd, content.size())) &&
         WriteAll(fd, content.data(), content.size()) && fsync(fd) == 0 &&
         (content.size() >= oldLength || ResizeDurably(fd, content.size()));
    return close(fd) == 0 && ok;
}

}  // namespace

bool FlushFile(int fd, const char* directory) {
    return FlushDirectory(directory) && fsync(fd) == 0;
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno != EINTR) {
            return false;
        }
        const auto done = static_cast<size_t>(written > 0 ? written : 0);
        data += done;
        length -= done;
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool ReplaceFileDurably(const char* path, const std::string& content) {
    std::string target(path);
    if (!ResolveFinalLink(target)) {
        return false;
    }
    // Held open until the new file is on storage (FlushFileToStorage).
    const FileDescriptor held(open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat replaced {};
    const bool exists = held.Get() >= 0 && fstat(held.Get(), &replaced) == 0;
    if (!exists && errno != ENOENT) {
        return false;
    }
    // Made before anything changes: running out of memory stops only here.
    const std::string temp = target + ".tmp";
    const std::string directory = DirectoryOf(target);
    if (WriteTemporaryFile(temp, directory, content, exists ? &replaced : nullptr) &&
        rename(temp.c_str(), target.c_str()) == 0) {
        return FlushFileToStorage(target.c_str(), directory.c_str());
    }
    // No room for a second copy, a read-only directory, a file mounted on its
    // own: the file itself may still be writable where it stands.
    unlink(temp.c_str());
    return exists && RewriteInPlace(target, content);
}

bool RemoveName(const char* path) {
    return unlink(path) == 0 || errno == ENOENT;
}

bool CopyToNewFile(int from, const char* name, const char* directory) {
    const int to = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (to < 0) {
        return false;
    }
    char block[16384];
    bool ok = true;
    for (ssize_t got = 1; ok && got != 0;) {
        got = read(from, block, sizeof block);
        ok = got >= 0 ? WriteAll(to, block, static_cast<size_t>(got)) : errno == EINTR;
    }
    ok = ok && FlushFile(to, directory);
    ok = close(to) == 0 && ok;
    if (!ok) {
        unlink(name);
    }
    return ok;
}

bool FlushFileToStorage(const char* path, const char* directory) {
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool flushed = FlushFile(fd, directory);
    return close(fd) == 0 && flushed;
}
