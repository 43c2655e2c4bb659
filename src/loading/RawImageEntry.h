#pragma once

#include <QString>

class TBitmap32;
class TVekImageSettings;

// Result codes of the RAW attempt.
enum : int {
    kRawLoaded = 0,      // decoded and developed into the bitmap
    kRawFileMissing = 1, // the file does not exist
    kRawNotRaw = 2       // the RAW decoder did not accept the file
};

// Offers `fileName` to the RAW decoder and develops it into `bitmap` with `settings`.
// Returns one of the codes above.
[[nodiscard]] int LoadRawImage(const QString& fileName, TBitmap32& bitmap,
                               const TVekImageSettings& settings);
