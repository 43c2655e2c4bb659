#pragma once

// GIFs and TIFFs for the multi-page holder's tests, made with FreeImage, plus a small
// walker over GIF blocks so that tests can damage single fields of a valid file.

#include "LoadingTestSupport.h"

#include "loading/ImageConversion.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

namespace pictrel::test {

// Palette shared by every generated GIF frame.
inline constexpr RGBQUAD kGifPalette[] = {
    {0, 0, 255, 0},    // 0 red (RGBQUAD is blue, green, red)
    {0, 255, 0, 0},    // 1 green
    {255, 0, 0, 0},    // 2 blue
    {0, 0, 0, 0},      // 3 black, the transparent index where a frame has one
    {255, 255, 255, 0} // 4 white
};
inline constexpr TColor32 kGifColours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFF000000u,
                                           0xFFFFFFFFu};

struct TGifFrame {
    int width = 4;
    int height = 4;
    BYTE index = 0; // palette index that fills the frame
    int left = 0;
    int top = 0;
    int timeMs = -1; // -1: no "FrameTime"
    int disposal = 0;
    // The leftmost columns use the transparent index 3.
    int transparentColumns = 0;
    // When not 0, the rest of the frame is noise over palette entries 0-4 from this seed
    // instead of `index` (index 3 then is transparent only when the frame has a
    // transparent column), so that frames take real work to decode and differ everywhere.
    unsigned noiseSeed = 0;
};

inline void SetAnimationTag(FIBITMAP* dib, const char* key, FREE_IMAGE_MDTYPE type,
                            const void* value, DWORD length) {
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagType(tag, type);
    FreeImage_SetTagCount(tag, 1);
    FreeImage_SetTagLength(tag, length);
    FreeImage_SetTagValue(tag, value);
    FreeImage_SetMetadata(FIMD_ANIMATION, dib, key, tag);
    FreeImage_DeleteTag(tag);
}

inline TFreeImagePtr MakeGifFrame(const TGifFrame& f) {
    TFreeImagePtr dib(FreeImage_Allocate(f.width, f.height, 8));
    RGBQUAD* pal = FreeImage_GetPalette(dib.get());
    for (unsigned i = 0; i < 256; ++i) pal[i] = RGBQUAD{128, 128, 128, 0};
    std::memcpy(pal, kGifPalette, sizeof(kGifPalette));
    std::minstd_rand random(f.noiseSeed);
    for (int y = 0; y < f.height; ++y) {
        BYTE* row = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < f.width; ++x)
            row[x] = x < f.transparentColumns ? 3 : f.noiseSeed != 0 ? BYTE(random() % 5) : f.index;
    }
    if (f.transparentColumns > 0) FreeImage_SetTransparentIndex(dib.get(), 3);
    const WORD left = WORD(f.left), top = WORD(f.top);
    SetAnimationTag(dib.get(), "FrameLeft", FIDT_SHORT, &left, 2);
    SetAnimationTag(dib.get(), "FrameTop", FIDT_SHORT, &top, 2);
    const BYTE disposal = BYTE(f.disposal);
    SetAnimationTag(dib.get(), "DisposalMethod", FIDT_BYTE, &disposal, 1);
    if (f.timeMs >= 0) {
        const DWORD time = DWORD(f.timeMs);
        SetAnimationTag(dib.get(), "FrameTime", FIDT_LONG, &time, 4);
    }
    return dib;
}

// An animated GIF. The logical screen is written only when given; page 0's background
// colour is palette entry `backgroundIndex` when that is not negative.
inline QString SaveGif(const QString& path, const std::vector<TGifFrame>& frames,
                       std::optional<int> logicalWidth = {}, std::optional<int> logicalHeight = {},
                       int backgroundIndex = -1) {
    const QByteArray name = QFile::encodeName(path);
    QFile::remove(path);
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(FIF_GIF, name.constData(), TRUE, FALSE);
    EXPECT_NE(multi, nullptr);
    if (multi == nullptr) return path;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const TFreeImagePtr dib = MakeGifFrame(frames[i]);
        if (i == 0) {
            if (logicalWidth) {
                const WORD w = WORD(*logicalWidth);
                SetAnimationTag(dib.get(), "LogicalWidth", FIDT_SHORT, &w, 2);
            }
            if (logicalHeight) {
                const WORD h = WORD(*logicalHeight);
                SetAnimationTag(dib.get(), "LogicalHeight", FIDT_SHORT, &h, 2);
            }
            if (backgroundIndex >= 0) {
                RGBQUAD bg = kGifPalette[backgroundIndex];
                bg.rgbReserved = BYTE(backgroundIndex);
                FreeImage_SetBackgroundColor(dib.get(), &bg);
                // The background index refers to the global colour table.
                FITAG* tag = FreeImage_CreateTag();
                FreeImage_SetTagKey(tag, "GlobalPalette");
                FreeImage_SetTagType(tag, FIDT_PALETTE);
                FreeImage_SetTagCount(tag, 256);
                FreeImage_SetTagLength(tag, 256 * 4);
                FreeImage_SetTagValue(tag, FreeImage_GetPalette(dib.get()));
                FreeImage_SetMetadata(FIMD_ANIMATION, dib.get(), "GlobalPalette", tag);
                FreeImage_DeleteTag(tag);
            }
        }
        FreeImage_AppendPage(multi, dib.get());
    }
    FreeImage_CloseMultiBitmap(multi, 0);
    return path;
}

// An integer animation tag as FreeImage's GIF reader stores it, or `fallback`.
inline int AnimationTag(FIBITMAP* page, const char* key, int fallback) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_ANIMATION, page, key, &tag) || tag == nullptr) return fallback;
    const void* value = FreeImage_GetTagValue(tag);
    switch (FreeImage_GetTagType(tag)) {
    case FIDT_BYTE:
        return *static_cast<const BYTE*>(value);
    case FIDT_SHORT:
        return std::int16_t(*static_cast<const WORD*>(value));
    case FIDT_LONG:
        return int(*static_cast<const DWORD*>(value));
    default:
        return fallback;
    }
}

// Page `index` of a multi-page file, decoded afresh through a handle of its own.
inline TBitmap32 FreshPage(const QString& path, int index) {
    TBitmap32 bitmap;
    const QByteArray name = QFile::encodeName(path);
    const TFreeImageMultiPtr multi(
        FreeImage_OpenMultiBitmap(FIF_GIF, name.constData(), FALSE, TRUE, FALSE, 0));
    EXPECT_NE(multi, nullptr);
    if (!multi) return bitmap;
    const TLockedPage page(multi.get(), index);
    EXPECT_NE(page.Get(), nullptr);
    if (page.Get() != nullptr) {
        EXPECT_TRUE(ConvertTo32Bits(page.Get(), bitmap, 0.0f, 0.0f));
    }
    return bitmap;
}

// The logical screen after each frame of `pages` (the first must be 0) when every page
// is decoded afresh as it is shown: a model of the composition, independent of the
// holder, for well-formed files whose logical screen is given.
inline std::vector<TBitmap32> FreshComposites(const QString& path, TColor32 background,
                                              const std::vector<int>& pages) {
    std::vector<TBitmap32> out;
    const QByteArray name = QFile::encodeName(path);
    const TFreeImageMultiPtr multi(
        FreeImage_OpenMultiBitmap(FIF_GIF, name.constData(), FALSE, TRUE, FALSE, 0));
    EXPECT_NE(multi, nullptr);
    if (!multi) return out;
    TBitmap32 screen, previous;
    for (const int index : pages) {
        const TLockedPage page(multi.get(), index);
        EXPECT_NE(page.Get(), nullptr);
        if (page.Get() == nullptr) return out;
        TBitmap32 frame;
        EXPECT_TRUE(ConvertTo32Bits(page.Get(), frame, 0.0f, 0.0f));
        frame.DrawMode = TDrawMode::dmBlend;
        frame.CombineMode = TCombineMode::cmMerge;
        const int disposal = AnimationTag(page.Get(), "DisposalMethod", 0);
        if (index == 0) {
            screen.SetSize(AnimationTag(page.Get(), "LogicalWidth", 0),
                           AnimationTag(page.Get(), "LogicalHeight", 0));
            screen.Clear(background);
        } else if (disposal == 3) {
            screen.SwapPixels(previous);
        } else {
            previous = screen;
            if (disposal == 2) screen.Clear(background);
        }
        screen.Draw(AnimationTag(page.Get(), "FrameLeft", 0),
                    AnimationTag(page.Get(), "FrameTop", 0), frame);
        if (index == 0) previous = screen;
        out.push_back(screen);
    }
    return out;
}

// Where the parts of one GIF frame lie in the file.
struct TGifBlock {
    int start = 0;      // first byte of the frame (its graphic control extension if any)
    int gce = -1;       // the graphic control extension's introducer, or -1
    int descriptor = 0; // the image descriptor's introducer (0x2C)
    int lzwSize = 0;    // the LZW minimum code size byte
    int end = 0;        // one past the frame's last data sub-block
};

// The frames of a well-formed GIF, in file order.
inline std::vector<TGifBlock> GifBlocks(const QByteArray& gif) {
    std::vector<TGifBlock> blocks;
    auto at = [&](int i) { return i < gif.size() ? std::uint8_t(gif[i]) : 0; };
    auto skipSubBlocks = [&](int i) {
        while (i < gif.size() && at(i) != 0) i += at(i) + 1;
        return i + 1;
    };
    int i = 13;
    if (at(10) & 0x80) i += 3 << ((at(10) & 7) + 1);
    TGifBlock block;
    block.start = -1;
    while (i < gif.size()) {
        if (at(i) == 0x21) {
            if (at(i + 1) == 0xF9) {
                block.start = i;
                block.gce = i;
            }
            i = skipSubBlocks(i + 2);
        } else if (at(i) == 0x2C) {
            if (block.start < 0) block.start = i;
            block.descriptor = i;
            int j = i + 10;
            if (at(i + 9) & 0x80) j += 3 << ((at(i + 9) & 7) + 1);
            block.lzwSize = j;
            block.end = skipSubBlocks(j + 1);
            i = block.end;
            blocks.push_back(block);
            block = TGifBlock{};
            block.start = -1;
        } else {
            break;
        }
    }
    return blocks;
}

inline void PutWord(QByteArray& data, int offset, int value) {
    data[offset] = char(value & 0xFF);
    data[offset + 1] = char((value >> 8) & 0xFF);
}

// A multi-page TIFF with pages of different sizes and bit depths.
inline QString SaveMixedTiff(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(FIF_TIFF, name.constData(), TRUE, FALSE);
    EXPECT_NE(multi, nullptr);
    if (multi == nullptr) return path;
    const TFreeImagePtr rgb = MakePattern(10, 8);
    FreeImage_AppendPage(multi, rgb.get());
    const TFreeImagePtr grey(FreeImage_ConvertToGreyscale(MakePattern(5, 3).get()));
    FreeImage_AppendPage(multi, grey.get());
    const TFreeImagePtr rgba = MakeAlphaPattern(7, 7);
    FreeImage_AppendPage(multi, rgba.get());
    const TFreeImagePtr deep(FreeImage_ConvertToRGB16(MakePattern(3, 9).get()));
    FreeImage_AppendPage(multi, deep.get());
    const TFreeImagePtr mono(FreeImage_Threshold(grey.get(), 128));
    FreeImage_AppendPage(multi, mono.get());
    FreeImage_CloseMultiBitmap(multi, 0);
    return path;
}

} // namespace pictrel::test
