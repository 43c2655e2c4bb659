#pragma once

#include <QImage>
#include <QString>

#include <atomic>

// Thumbnails for the folder's grid, shared with the desktop's thumbnail cache as its
// standard has it ($XDG_CACHE_HOME/thumbnails/<class>/<md5 of the file's URI>.png, the
// classes normal 128, large 256, x-large 512 and xx-large 1024 pixels).

// What gave a thumbnail.
enum class TThumbnailSource : std::uint8_t {
    tsNone,     // none could be made (the file is not a picture Pictrel reads)
    tsCache,    // the desktop's cache, still describing the file
    tsEmbedded, // the thumbnail stored in the file, large enough
    tsDecoded   // decoded from the file (reduced in the decoder where it can), and cached
};

struct TGalleryThumbnail {
    QImage Picture; // at most the class's side on its longer side, turned upright
    TThumbnailSource Source = TThumbnailSource::tsNone;
};

// The side of the smallest size class holding a thumbnail of `side` pixels (the
// largest class for anything above it).
[[nodiscard]] int ThumbnailClassSide(int side);

// The thumbnail of `file` for a cell of `side` device pixels, from the first that
// works: a cache entry of that class or a larger one that still describes the file;
// the thumbnail embedded in a JPEG when it is at least that large; the picture itself,
// decoded (a JPEG reduced in the decoder), turned upright by its camera's orientation
// and scaled to the class's side. A decoded thumbnail is written to the cache (PNG with
// Thumb::URI, Thumb::MTime and Thumb::Size, written atomically, the folders only its
// owner's). A file that cannot be read gets the standard's failure mark under
// fail/pictrel-<version>, and while the mark describes the file it is not tried again.
// `stop` abandons the work (nothing is written then). Any thread.
[[nodiscard]] TGalleryThumbnail MakeGalleryThumbnail(const QString& file, int side,
                                                     const std::atomic<bool>& stop);
