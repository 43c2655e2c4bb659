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

const char* const kExtensions[] = {"jpg",  "png",  "tif", "gif", "ico", "svg", "bmp", "psd",
                                   "tga",  "webp", "pcx", "hdr", "exr", "dds", "dng", "sgi",
                                   "wbmp", "xbm",  "iff", "pct", "j2k", "jp2", "mng"};

std::unique_ptr<QTemporaryDir> g_dir;
std::unique_ptr<TVekImageLoaderPro> g_loader;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pictrel::fuzz::StartDecoding();
    g_dir = std::make_unique<QTemporaryDir>();
    g_loader = std::make_unique<TVekImageLoaderPro>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const char* ext = kExtensions[data[0] % (sizeof kExtensions / sizeof *kExtensions)];
    const QString file = pictrel::fuzz::WriteInput(*g_dir, ext, data, size);
    pictrel::fuzz::LoadAndWait(*g_loader, file);
    g_loader->ReleaseSource();
    return 0;
}
