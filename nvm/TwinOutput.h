#pragma once

#include <cstddef>
#include <string>

// Writes one serialisation of a document to two files that differ in one
// place: where the marker's bytes appear, the first file gets firstText and
// the second secondText. Bytes are carried across the serialiser's chunks, so
// a marker split between two of them is still found, and each file is written
// in large blocks. A file whose descriptor is -1 or whose write failed gets no
// more bytes. The marker must not be empty.
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
        std::string block;

        void Append(const char* data, size_t length);
        void Flush();
    };

    void Take(const char* data, size_t length);
    void PassToBoth(const char* data, size_t length);

    std::string marker_;
    std::string texts_[2];
    File files_[2];
    std::string pending_;
    int markers_ = 0;
};
