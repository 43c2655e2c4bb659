#include "loading/RawImageEntry.h"

#include <QFileInfo>

int LoadRawImage(const QString& fileName, TBitmap32& /*bitmap*/,
                 const TVekImageSettings& /*settings*/) {
    if (!QFileInfo::exists(fileName)) return kRawFileMissing;
    // No RAW decoder is linked into this build yet: it rejects every file, which sends
    // each one on to FreeImage.
    return kRawNotRaw;
}
