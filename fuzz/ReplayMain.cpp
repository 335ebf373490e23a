// Runs the inputs in the directories named on the command line
// through a fuzz target once each, for builds without libFuzzer: the seed
// corpora and every input that once crashed stay regression cases. Options
// (arguments starting with "-") are libFuzzer's and are ignored.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int index = 1; index < argc; ++index) {
        if (argv[index][0] == '-') {
            continue;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[index])) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes(std::istreambuf_iterator<char>(in), {});
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            replayed += entry.is_regular_file() ? 1 : 0;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed == 0 ? 1 : 0;
}
