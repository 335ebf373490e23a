#pragma once

#include <cstddef>
#include <string>

// Writes one serialisation of a document to two files that differ in one
// place: where the marker's bytes appear first, the first file gets firstText
// and the second secondText. The bytes are gathered once, in large blocks
// that both files are written from; the end of a chunk that could begin a
// marker waits for the next chunk. A file whose descriptor is -1 or whose
// write failed gets no more bytes. The marker must not be empty.
class TwinOutput {
  public:
    TwinOutput(std::string marker, std::string firstText, std::string secondText, int firstFd,
               int secondFd);

    // The serialiser's write callback (xmlOutputWriteCallback); context is
    // the TwinOutput.
    static int Write(void* context, const char* data, int length);
    // Writes out what is still held back.
    void Finish();

    // How often the marker appeared.
    int Markers() const { return markers_; }
    // Whether every byte meant for file 0 or 1 was written, and some were.
    bool Complete(int file) const;

  private:
    struct File {
        explicit File(int descriptor) : fd(descriptor) {}

        int fd;
        bool failed = false;
        size_t written = 0;

        void Write(const char* data, size_t length);
    };

    void Take(const char* data, size_t length);
    void Flush(size_t length);

    std::string marker_;
    std::string texts_[2];
    File files_[2];
    std::string block_;                 // bytes for both files
    size_t split_ = std::string::npos;  // where the first marker was taken out of block_
    int markers_ = 0;
};
