#pragma once

#include <FreeImage.h>

#include <QByteArray>

// Reads the headers of the formats FreeImage cannot load without pixels (DDS, SGI,
// WBMP, XBM, IFF, PICT, JPEG 2000, MNG) the way their decoders do, so that a picture
// above the loader's size limit is refused before the decoder allocates it. A few
// headers are refused for what the decoder would do with them: a DDS or SGI file
// without its signature (picked by extension, the decoder would take any bytes for
// a header), a WBMP that ends before its fixed header byte or whose extension headers,
// or a PICT whose version opcode, run past the end of the file (the decoder would never
// stop reading), a JPEG 2000 stream with more than
// four components. True when the header is within the limit or cannot tell; other formats always
// pass.
[[nodiscard]] bool HeaderWithinLimit(FREE_IMAGE_FORMAT fif, const QByteArray& path);

// An icon file's directory: every picture it lists must lie within the file, with room
// for at least a bitmap header (40 bytes) or a PNG signature (8 bytes). FreeImage reads
// a picture that starts past the end into a header it never filled and may allocate
// gigabytes for it. A bitmap picture must also have a positive size and a depth a bitmap
// can have. True when the file cannot be read or is no icon file (the decoder refuses it
// itself).
[[nodiscard]] bool IconDirectoryIsSound(const QByteArray& path);
