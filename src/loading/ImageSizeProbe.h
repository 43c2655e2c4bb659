#pragma once

#include <FreeImage.h>

#include <QByteArray>

// Looks at a file's headers before its pixels are decoded, so that a picture above
// the loader's size limit is refused instead of allocated. Each answers true when the
// headers cannot tell (the decoder's own checks then apply).

// The single picture FreeImage loads for `fif`.
[[nodiscard]] bool PictureWithinLimit(FREE_IMAGE_FORMAT fif, const QByteArray& path);

// Page `page` of a multi-page file opened as `fif` (ICO, TIFF, GIF).
[[nodiscard]] bool PageWithinLimit(FREE_IMAGE_FORMAT fif, const QByteArray& path, int page);

// The logical screen and every frame of a GIF file.
[[nodiscard]] bool GifWithinLimit(const QByteArray& path);
