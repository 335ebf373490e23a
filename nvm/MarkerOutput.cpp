#include "nvm/MarkerOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstring>

#include "storage/DurableFile.h"

char* SharedBlockBuffer() {
    // Filled by its users through the pointer returned.
    // cppcheck-suppress unassignedVariable
    static char block[kBlockSize];
    return block;
}

MarkerOutput::MarkerOutput(std::string_view marker, std::string_view text, int fd)
    : marker_(marker), text_(text), fd_(fd), block_(SharedBlockBuffer()) {
    assert(!marker_.empty() && text_.size() <= marker_.size() && marker_.size() < kBlockSize);
}

int MarkerOutput::Write(void* context, const char* data, int length) {
    static_cast<MarkerOutput*>(context)->Take(data, static_cast<size_t>(length));
    return length;
}

void MarkerOutput::Take(const char* data, size_t length) {
    while (length > 0) {
        const size_t part = std::min(length, kBlockSize - used_);
        std::memcpy(block_ + used_, data, part);
        used_ += part;
        data += part;
        length -= part;
        Scan();
        if (used_ == kBlockSize) {
            Flush(searched_);
        }
    }
}

// Finds every marker that lies whole in the block; the first one becomes the
// text. Afterwards no marker starts before searched_, and what follows it is
// shorter than a marker.
void MarkerOutput::Scan() {
    for (;;) {
        const void* found =
            searched_ + marker_.size() <= used_
                ? memmem(block_ + searched_, used_ - searched_, marker_.data(), marker_.size())
                : nullptr;
        if (found == nullptr) {
            searched_ =
                std::max(searched_, used_ >= marker_.size() ? used_ - marker_.size() + 1 : 0);
            return;
        }
        const auto at = static_cast<size_t>(static_cast<const char*>(found) - block_);
        searched_ = at + marker_.size();
        if (++markers_ == 1) {
            std::memcpy(block_ + at, text_.data(), text_.size());
            std::memmove(block_ + at + text_.size(), block_ + searched_, used_ - searched_);
            used_ -= marker_.size() - text_.size();
            searched_ = at + text_.size();
            textOffset_ = written_ + static_cast<off_t>(at);
        }
    }
}

// Writes the first length bytes of the block and drops them.
void MarkerOutput::Flush(size_t length) {
    assert(length <= searched_ && searched_ <= used_);
    failed_ = failed_ || fd_ < 0 || !WriteAll(fd_, block_, length);
    written_ += static_cast<off_t>(length);
    std::memmove(block_, block_ + length, used_ - length);
    used_ -= length;
    searched_ -= length;
}

bool MarkerOutput::Finish() {
    searched_ = used_;
    Flush(used_);
    return !failed_ && written_ > 0;
}

bool CopyReplacing(int from, int to, off_t offset, std::string_view replaced,
                   std::string_view text) {
    char* block = SharedBlockBuffer();
    off_t position = 0;
    for (;;) {
        if (position == offset) {
            // The bytes to leave out must be those expected there.
            const ssize_t got = read(from, block, replaced.size());
            if (got != static_cast<ssize_t>(replaced.size()) ||
                std::memcmp(block, replaced.data(), replaced.size()) != 0 ||
                !WriteAll(to, text.data(), text.size())) {
                return false;
            }
            position += got;
        }
        const size_t wanted = position < offset
                                  ? std::min(kBlockSize, static_cast<size_t>(offset - position))
                                  : kBlockSize;
        const ssize_t got = read(from, block, wanted);
        if (got <= 0) {
            return got == 0 && position > offset;
        }
        if (!WriteAll(to, block, static_cast<size_t>(got))) {
            return false;
        }
        position += got;
    }
}
