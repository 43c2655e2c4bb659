// libFuzzer target over the loader's decode path: each input becomes a file whose
// extension comes from its first byte (the multi-page attempt and the secondary
// registry choose by extension, FreeImage by content) and is loaded through a real
// TVekImageLoaderPro, worker thread and GUI-thread delivery included.
//
// Built by the PICTREL_FUZZ CMake option (tests/fuzz/CMakeLists.txt), run by scripts/fuzz.
#include "loading/FreeImageSetup.h"
#include "loading/ImageLimits.h"
#include "loading/VekImageLoaderPro.h"

#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

const char* const kExtensions[] = {
    "jpg", "png", "tif", "gif",  "ico", "svg", "bmp", "psd", "tga", "webp", "pcx",  "hdr",  "exr",
    "dds", "dng", "sgi", "wbmp", "xbm", "iff", "pct", "j2k", "jp2", "mng",  "heic", "avif", "jxl"};

pictrel::fuzz::TLoaderTarget g_target;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_target.Start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!g_target.Load(data, size, kExtensions)) return 0;
    g_target.Loader->ReleaseSource();
    return 0;
}
