#pragma once

#include <cstdint>

// The decoder helper's side: a process that decodes the files the program hands it,
// one at a time, confined by the decoder sandbox.
//
// PrepareDecoderService sets up everything the decoders would otherwise load from disk
// on first use (FreeImage's plugins, libheif's decoder plugins), then enters the sandbox.
// RunDecoderService then answers requests on `socket` until the program closes its end: each
// request brings the picture file's descriptor and the load's settings, and is answered by an
// optional quick look and the result, with the pixels in shared memory.
//
// SIGUSR1, queued with a request's number (sigqueue), asks that request's decode to stop
// (it then ends in ilTerminated); the program starts the helper with SIGUSR1 blocked. A
// stopped or failed decode's buffer stays for the next request; a dmSpare message hands
// back the program's last picture as the buffer of the next one.
//
// For tests, PICTREL_DECODER_FAULT=crash|hang|memory makes the helper crash, hang or ask
// for more memory than its limit on files whose name contains "pictrel-fault".

// False (the reason on standard error) when the sandbox cannot be entered.
[[nodiscard]] bool PrepareDecoderService(int socket, std::uint64_t memoryLimit);
// Returns the process's exit code.
int RunDecoderService(int socket);

// The exit code of a helper that could not confine itself: the program then decodes
// in-process.
inline constexpr int kDecoderNoSandboxExit = 3;
