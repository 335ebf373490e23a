#pragma once

#include <sys/types.h>

#include <string_view>

// Writes a serialisation to a file with the first appearance of a marker
// replaced by a text, and remembers where the text went. The bytes are
// gathered in large blocks; the end of a block that could begin a marker
// waits for the next one. Nothing is allocated: the block is the program's
// one static buffer (see SharedBlockBuffer), so only one output or copy works
// at a time.
class MarkerOutput {
  public:
    // The marker must not be empty nor shorter than the text.
    MarkerOutput(std::string_view marker, std::string_view text, int fd);

    // The serialiser's write callback (xmlOutputWriteCallback); context is
    // the MarkerOutput.
    static int Write(void* context, const char* data, int length);
    // Writes out what is still held back. True when every byte reached the
    // file, and there were some.
    bool Finish();

    // How often the marker appeared, and where the text of the first one lies.
    int Markers() const { return markers_; }
    off_t TextOffset() const { return textOffset_; }

  private:
    void Take(const char* data, size_t length);
    void Scan();
    void Flush(size_t length);

    std::string_view marker_;
    std::string_view text_;
    int fd_;
    char* block_;
    size_t used_ = 0;
    size_t searched_ = 0;  // a marker starting before this was found already
    off_t written_ = 0;
    bool failed_ = false;
    int markers_ = 0;
    off_t textOffset_ = -1;
};

// The one block buffer for writing and copying documents, and its size.
constexpr size_t kBlockSize = size_t{256} << 10;
char* SharedBlockBuffer();

// Copies the file read from into the file written to, with the bytes at
// offset, which must be those of replaced, replaced by text. True when the
// whole copy was written.
bool CopyReplacing(int from, int to, off_t offset, std::string_view replaced,
                   std::string_view text);
