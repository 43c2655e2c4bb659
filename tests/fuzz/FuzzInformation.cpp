// libFuzzer target over the information and metadata lines: each input becomes a file
// whose format comes from its first byte; its header and metadata are read by
// FreeImage without pixels (a JPEG through the same guarded header load as the
// loader's) and every line the loader would make is made. Besides not crashing, each
// line must keep its "name:value;" shape within the bounded length.
#include "loading/FreeImagePtr.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageInformation.h"
#include "loading/ImageLimits.h"
#include "loading/JpegGuard.h"
#include "loading/PsdGuard.h"
#include "loading/TiffGuard.h"

#include "FuzzSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct TFormat {
    const char* Extension;
    FREE_IMAGE_FORMAT Format;
};
// The formats whose readers fill FreeImage's metadata models.
const TFormat kFormats[] = {{"jpg", FIF_JPEG}, {"tif", FIF_TIFF}, {"png", FIF_PNG},
                            {"psd", FIF_PSD},  {"gif", FIF_GIF},  {"webp", FIF_WEBP},
                            {"jxr", FIF_JXR},  {"exr", FIF_EXR}};

std::unique_ptr<QTemporaryDir> g_dir;

void CheckLines(const QStringList& lines) {
    for (const QString& line : lines) {
        if (line.size() > 3 * kMaxInformationValueLength || !line.contains(':') ||
            !line.contains(';')) {
            std::fprintf(stderr, "fuzz_information: a line out of shape (%lld characters)\n",
                         static_cast<long long>(line.size()));
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pictrel::fuzz::StartDecoding();
    g_dir = std::make_unique<QTemporaryDir>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const TFormat& format = kFormats[data[0] % (sizeof kFormats / sizeof *kFormats)];
    const QString file = pictrel::fuzz::WriteInput(*g_dir, format.Extension, data, size);
    const QByteArray path = QFile::encodeName(file);
    TFreeImagePtr dib;
    if (format.Format == FIF_JPEG) {
        dib = LoadJpegHeaderGuarded(path);
    } else {
        // The loader refuses damaged Photoshop data and TIFF metadata before FreeImage
        // reads them.
        if (format.Format == FIF_PSD && !PsdDataIsSound(path)) return 0;
        if (format.Format == FIF_TIFF && !TiffMetadataIsSound(path)) return 0;
        dib.reset(FreeImage_Load(format.Format, path.constData(), FIF_LOAD_NOPIXELS));
    }
    if (!dib) return 0;
    QStringList lines;
    for (const FREE_IMAGE_MDMODEL model :
         {FIMD_COMMENTS, FIMD_EXIF_MAIN, FIMD_EXIF_EXIF, FIMD_EXIF_GPS, FIMD_EXIF_MAKERNOTE,
          FIMD_EXIF_INTEROP, FIMD_IPTC, FIMD_XMP, FIMD_GEOTIFF, FIMD_ANIMATION})
        CollectMetadata(dib.get(), lines, model);
    AddFreeImageInfo(std::int64_t(size - 1), format.Format, dib.get(), lines);
    CheckLines(lines);
    return 0;
}
