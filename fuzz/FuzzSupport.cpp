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
// Made on first use; removed at the process's exit.
struct Scratch {
    Scratch() : path(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") {
        path += "/dolvin-fuzz-XXXXXX";
        Require(mkdtemp(path.data()) != nullptr, "scratch directory made");
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};
}  // namespace

const std::string& ScratchDirectory() {
    static const Scratch scratch;
    return scratch.path;
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
