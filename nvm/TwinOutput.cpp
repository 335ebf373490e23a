#include "nvm/TwinOutput.h"

#include <algorithm>
#include <utility>

#include "settings/DurableFile.h"

namespace {

constexpr size_t kBlockSize = size_t{256} << 10;

}  // namespace

TwinOutput::TwinOutput(std::string marker, std::string firstText, std::string secondText,
                       int firstFd, int secondFd)
    : marker_(std::move(marker)),
      texts_{std::move(firstText), std::move(secondText)},
      files_{File(firstFd), File(secondFd)} {
    block_.reserve(kBlockSize + (size_t{64} << 10));
}

int TwinOutput::Write(void* context, const char* data, int length) {
    static_cast<TwinOutput*>(context)->Take(data, static_cast<size_t>(length));
    return length;
}

void TwinOutput::Take(const char* data, size_t length) {
    const size_t held = marker_.size() - 1;
    size_t from = block_.size() > held ? block_.size() - held : 0;
    block_.append(data, length);
    for (size_t found = 0; (found = block_.find(marker_, from)) != std::string::npos;) {
        if (++markers_ == 1) {
            block_.erase(found, marker_.size());
            split_ = found;
            from = found;
        } else {
            from = found + marker_.size();
        }
    }
    if (block_.size() >= kBlockSize) {
        Flush(block_.size() - held);
    }
}

// Writes the first length bytes of the block to both files, each with its
// own text where the marker was, and drops them.
void TwinOutput::Flush(size_t length) {
    if (split_ <= length) {
        for (int file = 0; file < 2; ++file) {
            const std::string bytes =
                block_.substr(0, split_) + texts_[file] + block_.substr(split_, length - split_);
            files_[file].Write(bytes.data(), bytes.size());
        }
        split_ = std::string::npos;
    } else {
        files_[0].Write(block_.data(), length);
        files_[1].Write(block_.data(), length);
        if (split_ != std::string::npos) {
            split_ -= length;
        }
    }
    block_.erase(0, length);
}

void TwinOutput::Finish() {
    Flush(block_.size());
}

bool TwinOutput::Complete(int file) const {
    const File& f = files_[file];
    return f.fd >= 0 && !f.failed && f.written > 0;
}

void TwinOutput::File::Write(const char* data, size_t length) {
    if (fd >= 0 && !failed && length > 0) {
        failed = !WriteAll(fd, data, length);
        written += length;
    }
}
