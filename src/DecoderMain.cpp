// The decoder helper: decodes the pictures the program hands it, confined (see
// loading/DecoderService.h). Started by the program with its end of a socket pair.
#include "loading/DecoderService.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

int main(int argc, char** argv) {
    int socket = -1;
    std::uint64_t memoryLimit = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--socket") == 0)
            socket = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--memory-limit") == 0)
            memoryLimit = std::strtoull(argv[i + 1], nullptr, 10);
    }
    if (socket < 0) {
        std::fprintf(stderr, "usage: pictrel-decoder --socket FD [--memory-limit BYTES]\n");
        return 2;
    }
    if (!PrepareDecoderService(socket, memoryLimit)) std::_Exit(kDecoderNoSandboxExit);
    // No exit handlers: they would run in the sandbox (and the leak checker cannot).
    std::_Exit(RunDecoderService(socket));
}
