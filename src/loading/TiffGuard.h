#pragma once

#include <QByteArray>

// FreeImage reads a TIFF page's IPTC block (tag 33723) as 4 x count bytes, as if it
// were always stored as 32-bit words, while libtiff hands over an entry of single-byte
// type (BYTE, SBYTE, ASCII, UNDEFINED) as count bytes: FreeImage then reads three
// times as much past the end of libtiff's buffer. Before a TIFF (or BigTIFF) goes to
// FreeImage, the directories of its pages are walked here, and a file whose IPTC entry
// has such a type is refused as damaged. A file that cannot be read, is no TIFF or
// whose directories end early answers true: FreeImage will refuse it itself.
[[nodiscard]] bool TiffMetadataIsSound(const QByteArray& path);
