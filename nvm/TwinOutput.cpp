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
      files_{File(firstFd), File(secondFd)} {}

int TwinOutput::Write(void* context, const char* data, int length) {
    static_cast<TwinOutput*>(context)->Take(data, static_cast<size_t>(length));
    return length;
}

void TwinOutput::Take(const char* data, size_t length) {
    pending_.append(data, length);
    size_t start = 0;
    for (size_t found = 0; (found = pending_.find(marker_, start)) != std::string::npos;
         start = found + marker_.size()) {
        PassToBoth(pending_.data() + start, found - start);
        files_[0].Append(texts_[0].data(), texts_[0].size());
        files_[1].Append(texts_[1].data(), texts_[1].size());
        ++markers_;
    }
    // The end may be the start of a marker that the next chunk completes.
    const size_t held = std::min(pending_.size() - start, marker_.size() - 1);
    PassToBoth(pending_.data() + start, pending_.size() - start - held);
    pending_.erase(0, pending_.size() - held);
}

void TwinOutput::PassToBoth(const char* data, size_t length) {
    files_[0].Append(data, length);
    files_[1].Append(data, length);
}

void TwinOutput::Finish() {
    PassToBoth(pending_.data(), pending_.size());
    pending_.clear();
    files_[0].Flush();
    files_[1].Flush();
}

bool TwinOutput::Complete(int file) const {
    const File& f = files_[file];
    return f.fd >= 0 && !f.failed && f.written > 0;
}

void TwinOutput::File::Append(const char* data, size_t length) {
    if (fd < 0 || failed) {
        return;
    }
    block.append(data, length);
    if (block.size() >= kBlockSize) {
        Flush();
    }
}

void TwinOutput::File::Flush() {
    if (fd >= 0 && !failed && !block.empty()) {
        failed = !WriteAll(fd, block.data(), block.size());
        written += block.size();
    }
    block.clear();
}
