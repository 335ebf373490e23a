#include "fuzz/FuzzSupport.h"

#include <libxml/xmlerror.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

void Require(bool holds, const char* property) {
    if (!holds) {
        static_cast<void>(std::fprintf(stderr, "property violated: %s\n", property));
        std::abort();
    }
}

namespace {
void RemoveScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDirectory(), ignored);
}
}  // namespace

const std::string& ScratchDirectory() {
    static const std::string directory = [] {
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        pattern += "/dolvin-fuzz-XXXXXX";
        Require(mkdtemp(pattern.data()) != nullptr, "scratch directory made");
        return pattern;
    }();
    // Registered once the name exists, so it runs before the name is destroyed.
    static const int removal = std::atexit(RemoveScratchDirectory);
    static_cast<void>(removal);
    return directory;
}

namespace {
// The library's report callback is printf-style.
void IgnoreXmlReport(void* /*context*/, const char* /*format*/, ...) {}  // NOLINT(cert-dcl50-cpp)
}  // namespace

void QuietXmlLibrary() {
    xmlSetGenericErrorFunc(nullptr, IgnoreXmlReport);
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Require(out.good(), "scratch file written");
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
