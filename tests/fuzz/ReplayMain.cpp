// A main for the fuzz targets without libFuzzer: runs each file given on the command line
// through the target once. Built without sanitizers (PICTREL_FUZZ_REPLAY), it lets
// valgrind watch the decoders we cannot instrument: a write past a buffer inside a system
// library shows there at the input that does it, not later in an unrelated free.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 1;
        }
        const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in),
                                             std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", argv[i], data.size());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    return 0;
}
