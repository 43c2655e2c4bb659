#pragma once

#include "loading/ImageLoadJob.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

// The messages between the program and its decoder helper over a local stream socket.
// A message is a kind, a length and a QDataStream body; it may carry one file
// descriptor (the opened picture file with a request, the shared memory of the pixels
// with a picture). Every reader checks what it reads: a helper that was taken over by
// a hostile file must not be able to make the program misbehave through these messages.

enum class TDecoderMessage : std::uint32_t {
    dmRequest = 0x50445251,   // program -> helper: decode this file (its descriptor attached)
    dmSpare = 0x50445342,     // program -> helper: a buffer for the next request (attached)
    dmQuickLook = 0x5044514C, // helper -> program: a reduced first look (pixels attached)
    dmResult = 0x50445253,    // helper -> program: the load's result (pixels attached)
};

// The largest body either side accepts (metadata lists and an ICC profile).
inline constexpr std::uint32_t kMaxDecoderMessageBody = 64u << 20;

// One received message; Fd is -1 when none came with it, else owned by the receiver.
struct TDecoderEnvelope {
    TDecoderMessage Kind = TDecoderMessage::dmRequest;
    QByteArray Body;
    int Fd = -1;
};

// Writes one message whole (blocking); false when the peer is gone.
[[nodiscard]] bool SendDecoderMessage(int socket, TDecoderMessage kind, const QByteArray& body,
                                      int fd = -1);

// Reads one message (blocking, up to the socket's receive timeout). False on the end of
// the stream, a read error, an unknown kind or an oversized body; no descriptor is left
// open then.
[[nodiscard]] bool ReceiveDecoderMessage(int socket, TDecoderEnvelope& message);

// What a helper needs of a request besides its file: the request's plain values (its
// callbacks stay with the program), whether a quick look is wanted, the display's colour
// profile and the program's figure of the available memory (the helper cannot read it).
struct TDecodeOrder {
    TImageLoadRequest Request;
    bool QuickLook = false;
    QByteArray DisplayProfile;
    std::uint64_t AvailableMemory = 0;
    // Numbers the requests to one helper; a stop request names the one it stops.
    std::int32_t Sequence = 0;
};
[[nodiscard]] QByteArray EncodeDecodeOrder(const TDecodeOrder& order);
[[nodiscard]] bool ParseDecodeOrder(const QByteArray& body, TDecodeOrder& order);

// The description of pixels that travel in shared memory beside a message.
struct TPixelsHeader {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::optional<bool> Opaque;
};

// Everything of a result but the pixels and the FreeImage handles (which never leave
// the helper: multi-page files are loaded in the program itself), plus the pixels'
// header and a reason for a failure.
[[nodiscard]] QByteArray EncodeDecodeResult(const TImageLoadResult& result,
                                            const TPixelsHeader& pixels, const QString& reason);
[[nodiscard]] bool ParseDecodeResult(const QByteArray& body, TImageLoadResult& result,
                                     TPixelsHeader& pixels, QString& reason);

[[nodiscard]] QByteArray EncodePixelsHeader(const TPixelsHeader& pixels);
[[nodiscard]] bool ParsePixelsHeader(const QByteArray& body, TPixelsHeader& pixels);

// Shared memory for the pixels of `bitmap` with the size sealed, so the receiver may
// map it without fearing a later shrink: the bitmap's own block when it lives in shared
// memory already (see SharedPixelsFd), else a copy. -1 when it cannot be made.
[[nodiscard]] int PixelsToSharedMemory(const TBitmap32& bitmap);

// Maps the pixels a message carried into `bitmap` without a copy. Takes `fd`: it stays
// open with the mapping (see SharedPixelsFd) or is closed. False when the memory is smaller than
// the header says, is not sealed against shrinking, or the size is outside the loader's limits.
[[nodiscard]] bool AdoptSharedPixels(int fd, const TPixelsHeader& pixels, TBitmap32& bitmap);

// Maps a buffer the program handed back (its last picture's shared memory) into
// `bitmap`, for the next decode to reuse when its picture has that size. Takes `fd`.
[[nodiscard]] bool AdoptSpareBuffer(int fd, const TPixelsHeader& pixels, TBitmap32& bitmap);

// Makes the large bitmaps of this process live in shared memory (see TBitmapMemory),
// so that a decoded picture is handed over without a copy. For the helper.
void UseSharedBitmapMemory();
// The shared-memory descriptor holding `bits` (a bitmap's block made by
// UseSharedBitmapMemory or taken over by AdoptSharedPixels), or -1. The descriptor stays
// owned by the block.
[[nodiscard]] int SharedPixelsFd(const TColor32* bits);
