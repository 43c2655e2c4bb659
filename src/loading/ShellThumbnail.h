#pragma once

#include "gfx/Bitmap32.h"
#include "gfx/Color32.h"

#include <QImage>
#include <QString>

#include <array>

#include <functional>

class TBackgroundWork;

// A quick picture of a file, shown while the file itself decodes. Tried in order:
// 1. the desktop's thumbnail cache ($XDG_CACHE_HOME/thumbnails/<size>/<md5 of the
//    file's URI>.png), an entry counting only while its Thumb::MTime (and Thumb::Size,
//    when given) still describe the file;
// 2. the thumbnail embedded in a JPEG file (Exif or JFIF extension), read from the
//    file's headers only: the picture itself is never decoded. It is stored as the
//    picture is, so with `exifOrientation` it is turned by the picture's orientation
//    tag as the loader turns the picture; or the thumbnail image of a HEIF or AVIF file;
// 3. the icon of the file's type in the desktop's icon theme (GUI thread only).
// The picture found is fitted into width x height, keeping its aspect ratio, and
// centred on a bitmap of exactly that size filled with `background` (opaque; for an
// icon the background's colour at alpha 0, so the icon keeps its own transparency).
// Only regular files are looked at. Any failure leaves `bitmap` as it was (false).
bool ShellThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                    int height, bool exifOrientation = true);
// Steps 1 and 2 alone: the file's own thumbnail, read on any thread.
bool FileThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                   int height, bool exifOrientation = true);
// Step 3 alone: the type icon (GUI thread only).
bool IconThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                   int height);
// ShellThumbnail without holding the GUI thread: the file is read on `work` (a newer
// request revokes the older), the type icon made on the GUI thread when the file has
// no thumbnail, and `done` gets the picture there; nothing when neither is found.
// Call on the GUI thread.
void ShellThumbnailAsync(TBackgroundWork& work, const QString& file, int width, TColor32 background,
                         int height, bool exifOrientation,
                         std::function<void(TBitmap32&& thumbnail)> done);

// The size classes of the desktop's thumbnail cache: their folders and sides.
struct TThumbnailClass {
    const char* Folder;
    int Side;
};
inline constexpr std::array<TThumbnailClass, 4> kThumbnailClasses{
    {{"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}}};

// Whether the cache entry at `path` still describes a file last modified at `mtime`
// (whole seconds) of `size` bytes: its Thumb::MTime (and Thumb::Size, when given)
// match. Its pixels go to `picture` when asked for.
[[nodiscard]] bool ThumbnailEntryDescribes(const QString& path, qint64 mtime, qint64 size,
                                           QImage* picture);

// The cache file name of a file: the MD5 (lower-case hex) of its file:// URI, + ".png".
[[nodiscard]] QString ThumbnailCacheName(const QString& absolutePath);

// The cache file that holds a valid thumbnail of `file` for a picture of `size`
// pixels on its longer side: the smallest size class at least that large, else the
// largest there is. Empty when none is valid.
[[nodiscard]] QString FindCachedThumbnail(const QString& file, int size);

// The thumbnail embedded in a JPEG file (the last usable one in its headers), at its
// own size. False (thumbnail emptied) when there is none, or none whose stream is sound
// and announces a thumbnail's size (at most 2048 pixels a side).
[[nodiscard]] bool ReadEmbeddedThumbnail(const QString& file, TBitmap32& thumbnail);

// The orientation code (1..8) in the Exif block of a JPEG file, read from its headers
// the way the loader reads it; 1 when there is none or it cannot be read.
[[nodiscard]] int ReadJpegOrientation(const QString& file);
