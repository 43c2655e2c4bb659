// Writes small seed pictures for the loader's fuzzer. The first byte of each seed
// picks the file extension the fuzz target uses (see FuzzLoader.cpp).
#include "../loading/DngWriter.h"

#include <FreeImage.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void WriteSeed(const std::string& folder, const char* name, unsigned char extIndex, FIBITMAP* dib,
               FREE_IMAGE_FORMAT fif, int flags) {
    FIMEMORY* mem = FreeImage_OpenMemory();
    if (FreeImage_SaveToMemory(fif, dib, mem, flags)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        FreeImage_AcquireMemory(mem, &data, &size);
        if (std::FILE* f = std::fopen((folder + "/" + name).c_str(), "wb")) {
            std::fputc(extIndex, f);
            std::fwrite(data, 1, size, f);
            std::fclose(f);
        }
    }
    FreeImage_CloseMemory(mem);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string folder = argv[1];
    FreeImage_Initialise(FALSE);
    FIBITMAP* rgb = FreeImage_Allocate(24, 16, 24);
    for (unsigned y = 0; y < 16; ++y) {
        BYTE* p = FreeImage_GetScanLine(rgb, int(y));
        for (unsigned x = 0; x < 24; ++x, p += 3) {
            p[0] = BYTE(x * 10);
            p[1] = BYTE(y * 15);
            p[2] = BYTE(x * y);
        }
    }
    FIBITMAP* rgba = FreeImage_ConvertTo32Bits(rgb);
    FIBITMAP* pal = FreeImage_ColorQuantize(rgb, FIQ_WUQUANT);
    WriteSeed(folder, "seed-420.jpg", 0, rgb, FIF_JPEG, JPEG_SUBSAMPLING_420 | 80);
    WriteSeed(folder, "seed-prog.jpg", 0, rgb, FIF_JPEG, JPEG_PROGRESSIVE | 80);
    WriteSeed(folder, "seed.png", 1, rgba, FIF_PNG, 0);
    WriteSeed(folder, "seed.tif", 2, rgb, FIF_TIFF, TIFF_LZW);
    WriteSeed(folder, "seed.gif", 3, pal, FIF_GIF, 0);
    WriteSeed(folder, "seed.ico", 4, rgba, FIF_ICO, 0);
    WriteSeed(folder, "seed.bmp", 6, rgb, FIF_BMP, 0);
    WriteSeed(folder, "seed.psd", 7, rgb, FIF_PSD, 0);
    WriteSeed(folder, "seed.tga", 8, rgb, FIF_TARGA, 0);
    WriteSeed(folder, "seed.pcx", 10, rgb, FIF_PCX, 0);
    {
        // JPEG 2000 wants room for its resolution levels; WBMP is one bit a pixel.
        FIBITMAP* big = FreeImage_Rescale(rgb, 64, 64, FILTER_BOX);
        FIBITMAP* mono = FreeImage_Threshold(rgb, 100);
        WriteSeed(folder, "seed.j2k", 20, big, FIF_J2K, 0);
        WriteSeed(folder, "seed.jp2", 21, big, FIF_JP2, 0);
        WriteSeed(folder, "seed.wbmp", 16, mono, FIF_WBMP, 0);
        FreeImage_Unload(mono);
        FreeImage_Unload(big);
    }
    if (std::FILE* f = std::fopen((folder + "/seed.svg").c_str(), "wb")) {
        std::fputc(5, f);
        std::fputs("<svg xmlns='http://www.w3.org/2000/svg' width='8' height='6'>"
                   "<circle cx='4' cy='3' r='2' fill='red'/></svg>",
                   f);
        std::fclose(f);
    }
    {
        // A camera RAW picture for the RAW decoder: 32 x 24 photosites.
        pictrel::test::TDngDescription d;
        d.Width = 32;
        d.Height = 24;
        d.Sample = [](int x, int y) { return std::uint16_t(500 + x * 900 + y * 700); };
        const QByteArray dng = pictrel::test::MakeDng(d);
        if (std::FILE* f = std::fopen((folder + "/seed.dng").c_str(), "wb")) {
            std::fputc(14, f);
            std::fwrite(dng.constData(), 1, std::size_t(dng.size()), f);
            std::fclose(f);
        }
    }
    FreeImage_Unload(pal);
    FreeImage_Unload(rgba);
    FreeImage_Unload(rgb);
    FreeImage_DeInitialise();
    return 0;
}
