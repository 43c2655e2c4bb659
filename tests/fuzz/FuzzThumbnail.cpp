// libFuzzer target over the thumbnail reader: each input is a JPEG file whose
// embedded thumbnail (Exif or JFIF extension) is found, checked, decoded and turned
// by the file's orientation, as the viewer's quick picture does. The thumbnail cache
// of the fuzzing process is a private empty folder, so the embedded path is the one
// taken; the theme icon is not (no GUI application).
#include "loading/FreeImageSetup.h"
#include "loading/ImageLimits.h"
#include "loading/ShellThumbnail.h"

#include "FuzzSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> g_dir;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_dir = std::make_unique<QTemporaryDir>();
    // Before the application reads it: no real cache entry ever answers for an input.
    setenv("XDG_CACHE_HOME", QFile::encodeName(g_dir->filePath("cache")).constData(), 1);
    pictrel::fuzz::StartDecoding();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString file = g_dir->filePath("input.jpg");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    TBitmap32 thumbnail;
    if (ReadEmbeddedThumbnail(file, thumbnail) && thumbnail.Empty()) {
        std::fprintf(stderr, "fuzz_thumbnail: an empty thumbnail was reported read\n");
        std::abort();
    }
    (void)ReadJpegOrientation(file);
    // Fitted into a box of another shape than the thumbnail's, turned or not.
    TBitmap32 box;
    const bool turned = size > 0 && (data[size - 1] & 1) != 0;
    if (ShellThumbnail(file, box, 96, Color32(10, 20, 30, 255), 64, turned) &&
        (box.Width() != 96 || box.Height() != 64)) {
        std::fprintf(stderr, "fuzz_thumbnail: a thumbnail came out at another size\n");
        std::abort();
    }
    return 0;
}
