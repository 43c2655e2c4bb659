// Writes small seed pictures for the picture fuzzers:
//
//   make_seeds loader|information|pages|thumbnail <folder>
//
// Except for the thumbnail reader's, the first byte of each seed picks what the fuzz
// target makes of the rest (an extension or a format; see the target's table).
#include "../loading/DngWriter.h"

#include <FreeImage.h>

#include <QByteArray>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

std::string g_folder;

void WriteBytes(const char* name, int selector, const QByteArray& bytes) {
    QFile f(QString::fromStdString(g_folder + "/" + name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    if (selector >= 0) f.write(QByteArray(1, char(selector)));
    f.write(bytes);
}

QByteArray Encode(FIBITMAP* dib, FREE_IMAGE_FORMAT fif, int flags) {
    QByteArray bytes;
    FIMEMORY* mem = FreeImage_OpenMemory();
    if (FreeImage_SaveToMemory(fif, dib, mem, flags)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        FreeImage_AcquireMemory(mem, &data, &size);
        bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
    }
    FreeImage_CloseMemory(mem);
    return bytes;
}

void WriteSeed(const char* name, int selector, FIBITMAP* dib, FREE_IMAGE_FORMAT fif, int flags) {
    const QByteArray bytes = Encode(dib, fif, flags);
    if (!bytes.isEmpty()) WriteBytes(name, selector, bytes);
}

// A multi-page file of `pages` pages written by FreeImage's multi-page writer.
void WriteMultiPage(const char* name, int selector, FREE_IMAGE_FORMAT fif, FIBITMAP* const* pages,
                    int count) {
    const std::string scratch = g_folder + "/.multipage";
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(fif, scratch.c_str(), TRUE, FALSE, FALSE, 0);
    if (multi == nullptr) return;
    for (int i = 0; i < count; ++i) FreeImage_AppendPage(multi, pages[i]);
    FreeImage_CloseMultiBitmap(multi, 0);
    QFile f(QString::fromStdString(scratch));
    if (f.open(QIODevice::ReadOnly)) WriteBytes(name, selector, f.readAll());
    f.remove();
}

void SetTag(FIBITMAP* dib, FREE_IMAGE_MDMODEL model, const char* key, WORD id,
            FREE_IMAGE_MDTYPE type, DWORD count, DWORD length, const void* value) {
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagID(tag, id);
    FreeImage_SetTagType(tag, type);
    FreeImage_SetTagCount(tag, count);
    FreeImage_SetTagLength(tag, length);
    FreeImage_SetTagValue(tag, value);
    FreeImage_SetMetadata(model, dib, key, tag);
    FreeImage_DeleteTag(tag);
}

void SetText(FIBITMAP* dib, FREE_IMAGE_MDMODEL model, const char* key, WORD id, const char* text) {
    const auto n = DWORD(std::strlen(text) + 1);
    SetTag(dib, model, key, id, FIDT_ASCII, n, n, text);
}

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (const int v : values) bytes.append(char(v & 0xFF));
    return bytes;
}
QByteArray Little16(std::uint32_t v) {
    return Bytes({int(v), int(v >> 8)});
}
QByteArray Little32(std::uint32_t v) {
    return Little16(v & 0xFFFF) + Little16(v >> 16);
}
QByteArray Segment(int marker, const QByteArray& body) {
    const auto n = std::uint32_t(body.size() + 2);
    return Bytes({0xFF, marker, int(n >> 8), int(n)}) + body;
}

// A JPEG whose Exif block holds an orientation (first directory) and `thumbnail`
// (second directory), and optionally a JFIF extension with the same thumbnail.
QByteArray JpegWithThumbnail(const QByteArray& picture, const QByteArray& thumbnail,
                             int orientation, bool jfifExtension) {
    const auto entry = [](std::uint32_t tag, std::uint32_t type, const QByteArray& value) {
        return Little16(tag) + Little16(type) + Little32(1) + value;
    };
    constexpr std::uint32_t kSecond = 8 + 2 + 12 + 4;
    constexpr std::uint32_t kThumbnail = kSecond + 2 + 24 + 4;
    QByteArray tiff("II*\0", 4);
    tiff += Little32(8) + Little16(1) +
            entry(0x0112, 3, Little16(std::uint32_t(orientation)) + Little16(0)) +
            Little32(kSecond);
    tiff += Little16(2) + entry(0x0201, 4, Little32(kThumbnail)) +
            entry(0x0202, 4, Little32(std::uint32_t(thumbnail.size()))) + Little32(0) + thumbnail;
    QByteArray segments = Segment(0xE1, QByteArray("Exif\0\0", 6) + tiff);
    if (jfifExtension) segments += Segment(0xE0, QByteArray("JFXX\0\x10", 6) + thumbnail);
    // After the start of image, before the rest of the picture's headers.
    return picture.left(2) + segments + picture.mid(2);
}

FIBITMAP* Pattern(int width, int height, int phase) {
    FIBITMAP* dib = FreeImage_Allocate(width, height, 24);
    for (int y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(dib, y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = BYTE(x * 10 + phase);
            p[1] = BYTE(y * 15);
            p[2] = BYTE(x * y + phase * 3);
        }
    }
    return dib;
}

void LoaderSeeds(FIBITMAP* rgb) {
    FIBITMAP* rgba = FreeImage_ConvertTo32Bits(rgb);
    FIBITMAP* pal = FreeImage_ColorQuantize(rgb, FIQ_WUQUANT);
    WriteSeed("seed-420.jpg", 0, rgb, FIF_JPEG, JPEG_SUBSAMPLING_420 | 80);
    WriteSeed("seed-prog.jpg", 0, rgb, FIF_JPEG, JPEG_PROGRESSIVE | 80);
    WriteSeed("seed.png", 1, rgba, FIF_PNG, 0);
    // The direct PNG decoder's other row layouts: passes, and a palette with a
    // transparency table.
    WriteSeed("seed-interlaced.png", 1, rgba, FIF_PNG, PNG_INTERLACED);
    {
        FIBITMAP* translucent = FreeImage_Clone(pal);
        BYTE alphas[4] = {0, 64, 128, 200};
        FreeImage_SetTransparencyTable(translucent, alphas, 4);
        WriteSeed("seed-palette.png", 1, translucent, FIF_PNG, 0);
        FreeImage_Unload(translucent);
    }
    WriteSeed("seed.tif", 2, rgb, FIF_TIFF, TIFF_LZW);
    WriteSeed("seed.gif", 3, pal, FIF_GIF, 0);
    WriteSeed("seed.ico", 4, rgba, FIF_ICO, 0);
    WriteSeed("seed.bmp", 6, rgb, FIF_BMP, 0);
    WriteSeed("seed.psd", 7, rgb, FIF_PSD, 0);
    WriteSeed("seed.tga", 8, rgb, FIF_TARGA, 0);
    WriteSeed("seed.pcx", 10, rgb, FIF_PCX, 0);
    {
        // JPEG 2000 wants room for its resolution levels; WBMP is one bit a pixel.
        FIBITMAP* big = FreeImage_Rescale(rgb, 64, 64, FILTER_BOX);
        FIBITMAP* mono = FreeImage_Threshold(rgb, 100);
        WriteSeed("seed.j2k", 20, big, FIF_J2K, 0);
        WriteSeed("seed.jp2", 21, big, FIF_JP2, 0);
        WriteSeed("seed.wbmp", 16, mono, FIF_WBMP, 0);
        FreeImage_Unload(mono);
        FreeImage_Unload(big);
    }
    WriteBytes("seed.svg", 5,
               "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='6'>"
               "<circle cx='4' cy='3' r='2' fill='red'/></svg>");
    {
        // A camera RAW picture for the RAW decoder: 32 x 24 photosites.
        pictrel::test::TDngDescription d;
        d.Width = 32;
        d.Height = 24;
        d.Sample = [](int x, int y) { return std::uint16_t(500 + x * 900 + y * 700); };
        WriteBytes("seed.dng", 14, pictrel::test::MakeDng(d));
    }
    FreeImage_Unload(pal);
    FreeImage_Unload(rgba);
}

// Selectors: the table of FuzzInformation.cpp.
void InformationSeeds(FIBITMAP* rgb) {
    FIBITMAP* dib = FreeImage_Clone(rgb);
    SetText(dib, FIMD_COMMENTS, "Comment", 0, "a seed");
    SetText(dib, FIMD_EXIF_MAIN, "Make", 0x010F, "Pictrel");
    SetText(dib, FIMD_EXIF_MAIN, "Artist", 0x013B, "Someone");
    const WORD orientation = 6;
    SetTag(dib, FIMD_EXIF_MAIN, "Orientation", 0x0112, FIDT_SHORT, 1, 2, &orientation);
    const DWORD resolution[2] = {300, 1};
    SetTag(dib, FIMD_EXIF_MAIN, "XResolution", 0x011A, FIDT_RATIONAL, 1, 8, resolution);
    SetText(dib, FIMD_IPTC, "Headline", 0x0269, "Harbour");
    SetText(dib, FIMD_IPTC, "Keywords", 0x0219, "sea;boats");
    SetText(dib, FIMD_XMP, "XMLPacket", 0,
            "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/></x:xmpmeta>");
    const double scale[3] = {0.5, 0.5, 0.0};
    SetTag(dib, FIMD_GEOTIFF, "GeoPixelScale", 33550, FIDT_DOUBLE, 3, 24, scale);
    WriteSeed("info.jpg", 0, dib, FIF_JPEG, 80);
    WriteSeed("info.tif", 1, dib, FIF_TIFF, 0);
    WriteSeed("info.png", 2, dib, FIF_PNG, 0);
    // FreeImage's Photoshop writer frees its metadata buffers wrongly: a plain one.
    WriteSeed("info.psd", 3, rgb, FIF_PSD, 0);
    FIBITMAP* pal = FreeImage_ColorQuantize(rgb, FIQ_WUQUANT);
    WriteSeed("info.gif", 4, pal, FIF_GIF, 0);
    FreeImage_Unload(pal);
    // An Exif block the way cameras write it, with its thumbnail.
    FIBITMAP* small = FreeImage_Rescale(rgb, 8, 6, FILTER_BOX);
    WriteBytes("info-exif.jpg", 0,
               JpegWithThumbnail(Encode(rgb, FIF_JPEG, 80), Encode(small, FIF_JPEG, 50), 6, false));
    FreeImage_Unload(small);
    FreeImage_Unload(dib);
}

// Selectors: the table of FuzzPages.cpp (0 GIF, 1 TIFF, 2 icon).
void PageSeeds() {
    FIBITMAP* pages[3] = {Pattern(12, 10, 0), Pattern(8, 6, 40), Pattern(12, 10, 80)};
    FIBITMAP* frames[3];
    for (int i = 0; i < 3; ++i) {
        frames[i] = FreeImage_ColorQuantize(pages[i], FIQ_WUQUANT);
        const DWORD time = 20 * DWORD(i);
        SetTag(frames[i], FIMD_ANIMATION, "FrameTime", 0x1005, FIDT_LONG, 1, 4, &time);
        const WORD left = WORD(i), top = WORD(2 * i);
        SetTag(frames[i], FIMD_ANIMATION, "FrameLeft", 0x1001, FIDT_SHORT, 1, 2, &left);
        SetTag(frames[i], FIMD_ANIMATION, "FrameTop", 0x1002, FIDT_SHORT, 1, 2, &top);
        const BYTE disposal = BYTE(i + 1);
        SetTag(frames[i], FIMD_ANIMATION, "DisposalMethod", 0x1006, FIDT_BYTE, 1, 1, &disposal);
    }
    const WORD logical[2] = {16, 14};
    SetTag(frames[0], FIMD_ANIMATION, "LogicalWidth", 0x0001, FIDT_SHORT, 1, 2, &logical[0]);
    SetTag(frames[0], FIMD_ANIMATION, "LogicalHeight", 0x0002, FIDT_SHORT, 1, 2, &logical[1]);
    WriteMultiPage("pages.gif", 0, FIF_GIF, frames, 3);
    WriteMultiPage("pages.tif", 1, FIF_TIFF, pages, 3);
    // Icons come in the sizes the writer knows only.
    FIBITMAP* large = Pattern(32, 32, 0);
    FIBITMAP* small = Pattern(16, 16, 60);
    FIBITMAP* icons[2] = {FreeImage_ConvertTo32Bits(large), FreeImage_ConvertTo32Bits(small)};
    FreeImage_Unload(small);
    FreeImage_Unload(large);
    WriteMultiPage("pages.ico", 2, FIF_ICO, icons, 2);
    for (FIBITMAP* dib : icons) FreeImage_Unload(dib);
    for (FIBITMAP* dib : frames) FreeImage_Unload(dib);
    for (FIBITMAP* dib : pages) FreeImage_Unload(dib);
}

// No selector: every input is a JPEG.
void ThumbnailSeeds(FIBITMAP* rgb) {
    const QByteArray picture = Encode(rgb, FIF_JPEG, 80);
    FIBITMAP* small = FreeImage_Rescale(rgb, 8, 6, FILTER_BOX);
    const QByteArray thumbnail = Encode(small, FIF_JPEG, 50);
    WriteBytes("thumb-exif.jpg", -1, JpegWithThumbnail(picture, thumbnail, 6, false));
    WriteBytes("thumb-both.jpg", -1, JpegWithThumbnail(picture, thumbnail, 1, true));
    WriteBytes("thumb-none.jpg", -1, picture);
    FreeImage_Unload(small);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_seeds loader|information|pages|thumbnail <folder>\n");
        return 2;
    }
    const std::string kind = argv[1];
    g_folder = argv[2];
    FreeImage_Initialise(FALSE);
    FIBITMAP* rgb = Pattern(24, 16, 0);
    int status = 0;
    if (kind == "loader")
        LoaderSeeds(rgb);
    else if (kind == "information")
        InformationSeeds(rgb);
    else if (kind == "pages")
        PageSeeds();
    else if (kind == "thumbnail")
        ThumbnailSeeds(rgb);
    else
        status = 2;
    FreeImage_Unload(rgb);
    FreeImage_DeInitialise();
    return status;
}
