#include "loading/GifFrame.h"

#include "loading/FreeImagePtr.h"
#include "loading/ImageConversion.h"

#include <cstring>

namespace {

// An integer tag of the animation model, whatever integer type the file gave it.
std::optional<std::int64_t> AnimationValue(FIBITMAP* page, const char* key) {
    FITAG* tag = nullptr;
    if (page == nullptr || !FreeImage_GetMetadata(FIMD_ANIMATION, page, key, &tag) ||
        tag == nullptr || FreeImage_GetTagCount(tag) < 1)
        return std::nullopt;
    const void* value = FreeImage_GetTagValue(tag);
    if (value == nullptr) return std::nullopt;
    const auto length = FreeImage_GetTagLength(tag);
    auto read = [&](auto sample) -> std::optional<std::int64_t> {
        if (length < sizeof(sample)) return std::nullopt;
        std::memcpy(&sample, value, sizeof(sample));
        return std::int64_t(sample);
    };
    switch (FreeImage_GetTagType(tag)) {
    case FIDT_BYTE:
        return read(std::uint8_t{});
    case FIDT_SBYTE:
        return read(std::int8_t{});
    case FIDT_SHORT:
        return read(std::uint16_t{});
    case FIDT_SSHORT:
        return read(std::int16_t{});
    case FIDT_LONG:
        return read(std::uint32_t{});
    case FIDT_SLONG:
        return read(std::int32_t{});
    default:
        return std::nullopt;
    }
}

// The 16-bit signed keys: a GIF stores them unsigned, so the low 16 bits are taken
// as two's complement.
int Signed16(FIBITMAP* page, const char* key, int fallback) {
    const auto value = AnimationValue(page, key);
    return value ? int(std::int16_t(std::uint16_t(*value & 0xFFFF))) : fallback;
}

} // namespace

void ReadGifPage(FIBITMAP* dib, int index, TGifPage& page, TBitmap32& pixels) noexcept {
    page = TGifPage{};
    page.index = index;
    try {
        page.present = dib != nullptr;
        page.frameTime = AnimationValue(dib, "FrameTime");
        page.left = Signed16(dib, "FrameLeft", 0);
        page.top = Signed16(dib, "FrameTop", 0);
        page.disposal = AnimationValue(dib, "DisposalMethod").value_or(0);
        page.logicalWidth = Signed16(dib, "LogicalWidth", 0);
        page.logicalHeight = Signed16(dib, "LogicalHeight", 0);
        if (dib != nullptr) {
            page.frameWidth = int(FreeImage_GetWidth(dib));
            page.frameHeight = int(FreeImage_GetHeight(dib));
            page.converted = ConvertTo32Bits(dib, pixels, 0.0f, 0.0f);
        }
    } catch (...) {
        page.converted = false;
        page.error = std::current_exception();
    }
}

void DecodeGifPage(FIMULTIBITMAP* handle, int index, TGifPage& page, TBitmap32& pixels) noexcept {
    try {
        const TLockedPage locked(handle, index);
        ReadGifPage(locked.Get(), index, page, pixels);
    } catch (...) {
        page = TGifPage{};
        page.index = index;
        page.error = std::current_exception();
    }
}

std::optional<TColor32> GifBackground(FIBITMAP* firstPage) {
    if (firstPage == nullptr) return std::nullopt;
    RGBQUAD colour{};
    if (!FreeImage_GetBackgroundColor(firstPage, &colour)) return std::nullopt;
    if (FreeImage_GetBPP(firstPage) == 8) {
        const RGBQUAD* palette = FreeImage_GetPalette(firstPage);
        if (palette != nullptr && colour.rgbReserved < FreeImage_GetColorsUsed(firstPage))
            colour = palette[colour.rgbReserved];
    }
    return Color32(colour.rgbRed, colour.rgbGreen, colour.rgbBlue, 255);
}
