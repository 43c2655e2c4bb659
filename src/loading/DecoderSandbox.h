#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The confinement of the decoder helper, entered once after its libraries are set up.
//
// - No new privileges, and a system-call filter that admits what decoding needs:
//   memory, reading and seeking open descriptors, threads, futexes, clocks, signals to
//   itself, and messages on the one socket it talks over. Nothing opens a file, makes a
//   socket, starts a program or a process, or changes the file system.
// - Calls that name a path are answered inside the process: the decoders ask for files
//   by name, so the one file granted for the running decode (GrantDecoderFile) opens as
//   a read-only duplicate of its descriptor rewound to its start, and states as it;
//   every other path is refused (EACCES).
// - With `addressSpaceLimit` non-zero, an address-space limit: a decoder that asks for
//   absurd amounts of memory fails its allocation instead of pushing the desktop into
//   swapping.
//
// `socket` is the helper's connection. False (with the reason in `error`) when the
// system refuses a step; the process is then partly confined and should end.
[[nodiscard]] bool EnterDecoderSandbox(int socket, std::uint64_t addressSpaceLimit, QString& error);

// The file the decoders may open by `path` from now on: `fd`, which stays owned by the
// caller. An empty path grants none.
void GrantDecoderFile(const QByteArray& path, int fd);

// Whether system calls the filter refuses are reported on standard error (for finding
// what a new library version needs). Read once, before the sandbox is entered.
void TraceRefusedSystemCalls(bool on);
