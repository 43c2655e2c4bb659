#include "loading/ImageSizeProbe.h"

#include "loading/FreeImagePtr.h"
#include "loading/HeaderProbe.h"
#include "loading/ImageLimits.h"
#include "loading/JpegGuard.h"

#include <cstdio>
#include <memory>

namespace {

struct TCloseFile {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

bool DibWithinLimit(FIBITMAP* dib) {
    return dib == nullptr || WithinImageLimit(FreeImage_GetWidth(dib), FreeImage_GetHeight(dib));
}

// Skips a chain of GIF data sub-blocks; false at the end of the file.
bool SkipSubBlocks(std::FILE* f) {
    for (;;) {
        const int n = std::fgetc(f);
        if (n == EOF) return false;
        if (n == 0) return true;
        if (std::fseek(f, n, SEEK_CUR) != 0) return false;
    }
}

unsigned U16(const unsigned char* p) {
    return unsigned(p[0]) | (unsigned(p[1]) << 8);
}

} // namespace

bool GifWithinLimit(const QByteArray& path) {
    const std::unique_ptr<std::FILE, TCloseFile> file(std::fopen(path.constData(), "rb"));
    if (!file) return true;
    std::FILE* f = file.get();
    unsigned char header[13];
    if (std::fread(header, 1, sizeof header, f) != sizeof header) return true;
    if (!WithinImageLimit(U16(header + 6), U16(header + 8))) return false;
    if ((header[10] & 0x80) != 0 && std::fseek(f, 3L << ((header[10] & 7) + 1), SEEK_CUR) != 0)
        return true;
    for (;;) {
        const int block = std::fgetc(f);
        if (block == 0x2C) {
            unsigned char desc[9];
            if (std::fread(desc, 1, sizeof desc, f) != sizeof desc) return true;
            if (!WithinImageLimit(U16(desc + 4), U16(desc + 6))) return false;
            if ((desc[8] & 0x80) != 0 && std::fseek(f, 3L << ((desc[8] & 7) + 1), SEEK_CUR) != 0)
                return true;
            if (std::fgetc(f) == EOF || !SkipSubBlocks(f)) return true;
        } else if (block == 0x21) {
            if (std::fgetc(f) == EOF || !SkipSubBlocks(f)) return true;
        } else {
            return true; // trailer, end of file or something the decoder will reject
        }
    }
}

bool PictureWithinLimit(FREE_IMAGE_FORMAT fif, const QByteArray& path) {
    if (fif == FIF_GIF) return GifWithinLimit(path);
    if (!FreeImage_FIFSupportsNoPixels(fif)) return HeaderWithinLimit(fif, path);
    if (fif == FIF_JPEG) return DibWithinLimit(LoadJpegHeaderGuarded(path).get());
    const TFreeImagePtr header(FreeImage_Load(fif, path.constData(), FIF_LOAD_NOPIXELS));
    return DibWithinLimit(header.get());
}

bool PageWithinLimit(FREE_IMAGE_FORMAT fif, const QByteArray& path, int page) {
    if (fif == FIF_GIF) return GifWithinLimit(path);
    if (!FreeImage_FIFSupportsNoPixels(fif)) return true;
    const TFreeImageMultiPtr handle(
        FreeImage_OpenMultiBitmap(fif, path.constData(), FALSE, TRUE, FALSE, FIF_LOAD_NOPIXELS));
    if (!handle) return true;
    const TLockedPage locked(handle.get(), page);
    return DibWithinLimit(locked.Get());
}
