// Writes the sample pictures `make run` opens: a photo-like gradient JPEG, a PNG
// with transparency, a multi-page TIFF and an animated GIF. Existing files are
// kept, so running it again costs nothing.
//   make_samples <folder>
#include <FreeImage.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// A smooth landscape-like picture: sky gradient, a sun, rolling hills.
void PaintScene(FIBITMAP* dib, int shift) {
    const int w = int(FreeImage_GetWidth(dib)), h = int(FreeImage_GetHeight(dib));
    const int bpp = int(FreeImage_GetBPP(dib)) / 8;
    for (int y = 0; y < h; ++y) {
        // FreeImage rows run bottom-up.
        BYTE* row = FreeImage_GetScanLine(dib, h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w, fy = double(y) / h;
            double r = 40 + 120 * fy, g = 90 + 110 * fy, b = 200 - 60 * fy;
            const double sx = fx - 0.72 - shift * 0.02, sy = fy - 0.28;
            const double sun = std::exp(-(sx * sx + sy * sy) * 90.0);
            r += 215 * sun;
            g += 170 * sun;
            b -= 60 * sun;
            const double hill =
                0.62 + 0.08 * std::sin(fx * 9.0 + shift) + 0.05 * std::sin(fx * 23.0);
            if (fy > hill) {
                const double d = (fy - hill) * 3.0;
                r = 50 + 40 * d;
                g = 110 + 60 * std::sin(fx * 40.0) * 0.3 - 30 * d;
                b = 40 + 20 * d;
            }
            BYTE* p = row + x * bpp;
            p[FI_RGBA_RED] = BYTE(std::fmin(255.0, std::fmax(0.0, r)));
            p[FI_RGBA_GREEN] = BYTE(std::fmin(255.0, std::fmax(0.0, g)));
            p[FI_RGBA_BLUE] = BYTE(std::fmin(255.0, std::fmax(0.0, b)));
            if (bpp == 4) {
                const double cx = fx - 0.5, cy = fy - 0.5;
                const double dist = std::sqrt(cx * cx + cy * cy);
                p[FI_RGBA_ALPHA] = BYTE(std::fmin(255.0, std::fmax(0.0, (0.5 - dist) * 900.0)));
            }
        }
    }
}

bool Save(FREE_IMAGE_FORMAT fif, FIBITMAP* dib, const fs::path& path, int flags = 0) {
    const bool ok = FreeImage_Save(fif, dib, path.c_str(), flags) != FALSE;
    if (!ok) std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
    return ok;
}

bool WritePages(FREE_IMAGE_FORMAT fif, const fs::path& path, int pages, bool animated) {
    const fs::path tmp = path.string() + ".part";
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(fif, tmp.c_str(), TRUE, FALSE, TRUE);
    if (multi == nullptr) return false;
    for (int i = 0; i < pages; ++i) {
        FIBITMAP* page =
            FreeImage_Allocate(animated ? 320 : 480 - i * 60, animated ? 200 : 320, 24);
        PaintScene(page, i);
        FIBITMAP* stored = animated ? FreeImage_ColorQuantize(page, FIQ_WUQUANT) : page;
        if (animated) {
            DWORD frameTime = 120;
            FITAG* tag = FreeImage_CreateTag();
            FreeImage_SetTagKey(tag, "FrameTime");
            FreeImage_SetTagType(tag, FIDT_LONG);
            FreeImage_SetTagCount(tag, 1);
            FreeImage_SetTagLength(tag, 4);
            FreeImage_SetTagValue(tag, &frameTime);
            FreeImage_SetMetadata(FIMD_ANIMATION, stored, FreeImage_GetTagKey(tag), tag);
            FreeImage_DeleteTag(tag);
        }
        FreeImage_AppendPage(multi, stored);
        if (stored != page) FreeImage_Unload(stored);
        FreeImage_Unload(page);
    }
    const bool ok = FreeImage_CloseMultiBitmap(multi, 0) != FALSE;
    std::error_code ec;
    if (ok) fs::rename(tmp, path, ec);
    return ok && !ec;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples <folder>\n");
        return 2;
    }
    const fs::path folder = argv[1];
    std::error_code ec;
    fs::create_directories(folder, ec);
    FreeImage_Initialise(FALSE);
    bool ok = true;

    const fs::path jpeg = folder / "01-gradient.jpg";
    if (!fs::exists(jpeg)) {
        FIBITMAP* dib = FreeImage_Allocate(1600, 1000, 24);
        PaintScene(dib, 0);
        ok &= Save(FIF_JPEG, dib, jpeg, JPEG_QUALITYGOOD);
        FreeImage_Unload(dib);
    }
    const fs::path png = folder / "02-transparent.png";
    if (!fs::exists(png)) {
        FIBITMAP* dib = FreeImage_Allocate(640, 640, 32);
        PaintScene(dib, 1);
        ok &= Save(FIF_PNG, dib, png);
        FreeImage_Unload(dib);
    }
    const fs::path tiff = folder / "03-pages.tif";
    if (!fs::exists(tiff)) ok &= WritePages(FIF_TIFF, tiff, 3, false);
    const fs::path gif = folder / "04-animated.gif";
    if (!fs::exists(gif)) ok &= WritePages(FIF_GIF, gif, 8, true);

    FreeImage_DeInitialise();
    return ok ? 0 : 1;
}
