#include "loading/RawImageEntry.h"

#include "loading/RawImage.h"

int LoadRawImage(const QString& fileName, TBitmap32& bitmap, const TVekImageSettings& settings) {
    TRawImage raw;
    raw.ApplySettings(settings);
    const int result = raw.LoadFromFile(fileName);
    if (result == TRawImage::kLoaded) raw.RenderTo(bitmap);
    return result;
}
