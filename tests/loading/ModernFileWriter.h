#pragma once

#include <QByteArray>

#include <jxl/encode.h>

#include <cstdint>
#include <vector>

namespace pictrel::test {

// What a JPEG XL encoder whose input is closed writes; empty on failure.
[[nodiscard]] QByteArray JxlEncoderOutput(JxlEncoder* encoder);

// A picture's samples, RGB or RGBA row by row, each below 2^Bits.
struct TDeepPicture {
    int Width = 0;
    int Height = 0;
    int Bits = 8;
    bool Alpha = false;
    std::vector<std::uint16_t> Samples;

    // A picture of Columns x Rows flat patches of `size` pixels each, the patch colours
    // (RGB or RGBA samples) row by row.
    static TDeepPicture Patches(int columns, int rows, int size, int bits, bool alpha,
                                const std::vector<std::uint16_t>& colours);
};

// Colours as code points (H.273): primaries, transfer curve and YCbCr matrix.
struct TColourCodes {
    int Primaries = 1;
    int Transfer = 13;
    int Matrix = 6;
};

enum class THeifCodec { hcHevc, hcAv1 };

// A lossless HEIF (HEVC) or AVIF (AV1) file of the picture with an nclx colour box;
// empty when this machine's encoder cannot write it (AV1 here: 8 and 12 bits only).
[[nodiscard]] QByteArray EncodeDeepHeif(THeifCodec codec, const TDeepPicture& picture,
                                        TColourCodes codes);

// Overwrites the primaries and transfer code points of a HEIF file's nclx box, so values
// no encoder writes can be tested. False when the file has no such box.
bool SetNclxCodes(QByteArray& file, int primaries, int transfer);

// A lossless JPEG XL file of the picture, 16-bit samples at most, in the space of the
// code points (primaries BT.709 = 1, BT.2100 = 9, Display P3 = 12; transfer as H.273).
// Several pictures make an animation of that many frames.
[[nodiscard]] QByteArray EncodeDeepJxl(const std::vector<TDeepPicture>& frames, TColourCodes codes);

// The PQ code value (0 ... 1) of a light level in cd/m² (SMPTE ST 2084).
[[nodiscard]] double PqSignal(double nits);

} // namespace pictrel::test
