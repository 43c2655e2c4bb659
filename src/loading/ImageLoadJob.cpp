#include "loading/ImageLoadJob.h"

#include "app/FileHelpers.h"
#include "gfx/Orientation.h"
#include "loading/ColourManagement.h"
#include "loading/HeaderProbe.h"
#include "loading/ImageConversion.h"
#include "loading/ImageInformation.h"
#include "loading/ImageLimits.h"
#include "loading/ImageSizeProbe.h"
#include "loading/JpegDecoder.h"
#include "loading/JpegGuard.h"
#include "loading/ModernFormats.h"
#include "loading/PartialLook.h"
#include "loading/PngDecoder.h"
#include "loading/PsdGuard.h"
#include "loading/RawImage.h"
#include "loading/SecondaryFormatRegistry.h"
#include "loading/TiffGuard.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

using enum TImageLoaderProStatus;

// A failed load; the run turns it into ilError.
class ELoadFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TVekImageKind KindOf(FREE_IMAGE_FORMAT format) {
    switch (format) {
    case FIF_GIF:
        return TVekImageKind::ikGif;
    case FIF_TIFF:
        return TVekImageKind::ikTiff;
    case FIF_ICO:
        return TVekImageKind::ikIcon;
    case FIF_PNG:
        return TVekImageKind::ikPng;
    case FIF_JPEG:
        return TVekImageKind::ikJpeg;
    case FIF_BMP:
        return TVekImageKind::ikBmp;
    default:
        return TVekImageKind::ikOther;
    }
}

enum class TAttempt : std::uint8_t { NotOpened, Handled };

// One load, from the request into the result.
class TImageLoadRun {
public:
    TImageLoadRun(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                  TImageLoadResult& result)
        : m_request(request), m_stop(stop), m_result(result) {}

    void Run();

private:
    TAttempt LoadMultiPage(const QByteArray& path, std::int64_t fileSize);
    TAttempt LoadSingle(const QByteArray& path, std::int64_t fileSize);
    TAttempt LoadJpeg(const QByteArray& path, std::int64_t fileSize);
    std::optional<TAttempt> LoadPng(const QByteArray& path, std::int64_t fileSize);
    void QuickLook(const QByteArray& path, const TJpegRowWork& convert);
    void LoadSecondary(std::int64_t fileSize);
    void Describe(FIBITMAP* dib, FREE_IMAGE_FORMAT detected, std::int64_t fileSize);
    void Finish();
    TAttempt FinishDecoded();
    TAttempt Stopped();
    bool LoadRaw(std::int64_t fileSize);
    bool LoadModern(std::int64_t fileSize);
    void TakeOrientation(int orientation);

    const TImageLoadRequest& m_request;
    const std::atomic<bool>& m_stop;
    TImageLoadResult& m_result;
    // Whether the pixels are in the display's colours already (converted while decoding).
    bool m_coloursConverted = false;
    // How the decoded pixels are turned before they are delivered.
    int m_orientation = kExifOrientationNone;
};

void TImageLoadRun::Run() {
    if (m_stop.load()) {
        m_result.Status = ilTerminated;
        return;
    }
    m_result.HasAlpha = false;
    m_result.IccProfile.clear();
    m_result.Status = ilOpening;
    m_result.ImageKind = TVekImageKind::ikNone;
    m_result.PageIndex = m_request.PageIndex;
    try {
        // A pipe or a device would keep a decoder reading (or waiting) for ever.
        if (!QFileInfo(m_request.FileName).isFile()) throw ELoadFailed("not a regular file");
        const std::int64_t fileSize = FileSizeOf(m_request.FileName);
        // No picture is empty, and FreeImage's readers would work on the header they
        // failed to read (valgrind shows them branching on uninitialised fields).
        if (fileSize == 0) throw ELoadFailed("empty file");
        if (LoadRaw(fileSize)) return;
        if (LoadModern(fileSize)) return;
        const QByteArray path = QFile::encodeName(m_request.FileName);
        if (LoadMultiPage(path, fileSize) == TAttempt::Handled) return;
        if (LoadSingle(path, fileSize) == TAttempt::Handled) return;
        if (!m_request.UseSecondary) throw ELoadFailed("left to the toolkit's readers");
        LoadSecondary(fileSize);
    } catch (...) {
        // Nothing leaves the worker: every failure is a status.
        m_result.Bitmap.SetSize(0, 0);
        m_result.MultiBitmap.reset();
        m_result.GifFirstFrame.reset();
        m_result.SingleBitmap.reset();
        m_result.Status = ilError;
    }
}

// A stop point: what was opened is released and nothing is delivered.
TAttempt TImageLoadRun::Stopped() {
    m_result.MultiBitmap.reset();
    m_result.GifFirstFrame.reset();
    m_result.SingleBitmap.reset();
    m_result.Status = ilTerminated;
    return TAttempt::Handled;
}

// The last stop point: a picture decoded for a request that was stopped meanwhile is
// dropped instead of delivered.
TAttempt TImageLoadRun::FinishDecoded() {
    if (m_stop.load()) return Stopped();
    Finish();
    return TAttempt::Handled;
}

// Format, kind, transparency, metadata and information lines of a FreeImage bitmap.
void TImageLoadRun::Describe(FIBITMAP* dib, FREE_IMAGE_FORMAT detected, std::int64_t fileSize) {
    m_result.ImageFormat = detected;
    m_result.ImageKind = KindOf(detected);
    m_result.HasAlpha = FreeImage_IsTransparent(dib) != FALSE;
    if (FreeImage_GetBPP(dib) > 32) m_result.ImageKind = TVekImageKind::ikHighBitDepth;
    for (const FREE_IMAGE_MDMODEL model :
         {FIMD_EXIF_MAIN, FIMD_EXIF_EXIF, FIMD_EXIF_GPS, FIMD_EXIF_MAKERNOTE, FIMD_EXIF_INTEROP})
        CollectMetadata(dib, m_result.ExifList, model);
    CollectMetadata(dib, m_result.IptcList, FIMD_IPTC);
    CollectMetadata(dib, m_result.XmpList, FIMD_XMP);
    CollectMetadata(dib, m_result.GeoTiffList, FIMD_GEOTIFF);
    AddFreeImageInfo(fileSize, m_result.ImageFormat, dib, m_result.InfoList);
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(dib);
    if (profile != nullptr && profile->data != nullptr && profile->size > 0 &&
        (profile->flags & FIICC_COLOR_IS_CMYK) == 0)
        m_result.IccProfile =
            QByteArray(static_cast<const char*>(profile->data), qsizetype(profile->size));
    else if (detected == FIF_PNG && m_request.Settings.ColourManagement)
        m_result.IccProfile = ReadPngColourProfile(m_request.FileName);
}

// The RAW decoder, developed with the request's settings. The decoder delivers the
// sensor's layout and only reports the camera's orientation.
bool TImageLoadRun::LoadRaw(std::int64_t fileSize) {
    TRawImage raw;
    raw.ApplySettings(m_request.Settings);
    if (raw.LoadFromFile(m_request.FileName) != TRawImage::kLoaded) return false;
    raw.RenderTo(m_result.Bitmap);
    m_result.ImageKind = TVekImageKind::ikRaw;
    m_result.PageCount = 1;
    AddBitmapInfo(fileSize, QStringLiteral("RAW Image format"), m_result.Bitmap, m_result.InfoList);
    TakeOrientation(ExifOrientationOfRawFlip(raw.Flip()));
    Finish();
    return true;
}

// HEIF, AVIF and JPEG XL, known by their first bytes: read through their own libraries,
// never offered to FreeImage.
bool TImageLoadRun::LoadModern(std::int64_t fileSize) {
    QFile file(m_request.FileName);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const TModernFormat format = DetectModernFormat(file.peek(64));
    if (format == TModernFormat::mfNone) return false;
    // The decoders read from memory; the file is its own limit on what they may ask for.
    if (!WithinMemoryShare(std::uint64_t(fileSize) * 2)) throw ELoadFailed("file too large");
    const QByteArray data = file.readAll();
    file.close();
    if (data.size() != fileSize) throw ELoadFailed("the file could not be read");
    TModernDecodeOptions options;
    options.AsStored = !m_request.Settings.ExifOrientation;
    options.ToneMapGamma = m_request.Settings.ToneMapGamma;
    options.ToneMapExposure = m_request.Settings.ToneMapExposure;
    const TModernPicture picture =
        DecodeModernPicture(format, data, m_request.PageIndex, options, m_stop, m_result.Bitmap);
    m_result.ImageKind = TVekImageKind::ikModern;
    m_result.PageCount = picture.PageCount;
    m_result.HasAlpha = picture.HasAlpha;
    m_result.IccProfile = picture.IccProfile;
    CollectBlockMetadata(picture.Exif, picture.Xmp, m_result.ExifList, m_result.XmpList,
                         m_result.GeoTiffList);
    AddBitmapInfo(fileSize, picture.FormatName, m_result.Bitmap, m_result.InfoList,
                  picture.BitsPerPixel);
    TakeOrientation(picture.Orientation);
    FinishDecoded();
    return true;
}

void TImageLoadRun::TakeOrientation(int orientation) {
    m_orientation = m_request.Settings.ExifOrientation ? orientation : kExifOrientationNone;
}

// Orientation, alpha combination and the opacity scan, so the first paint does not pay
// for them.
void TImageLoadRun::Finish() {
    if (m_request.Settings.ColourManagement && !m_coloursConverted)
        ConvertToDisplayColours(m_result.Bitmap, m_result.IccProfile, DisplayProfile());
    try {
        ApplyExifOrientation(m_result.Bitmap, m_orientation);
    } catch (const std::bad_alloc&) {
        // No room for the turned copy: the picture is shown as stored rather than not at all.
    }
    if (m_request.CombineAlpha && m_result.HasAlpha)
        CombineAlphaOver(m_result.Bitmap, m_request.Settings.BackgroundColor);
    (void)m_result.Bitmap.IsOpaque();
    m_result.Status = ilSucces;
}

TAttempt TImageLoadRun::LoadMultiPage(const QByteArray& path, std::int64_t fileSize) {
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFilename(path.constData());
    if (fif != FIF_ICO && fif != FIF_TIFF && fif != FIF_GIF) return TAttempt::NotOpened;
    if (fif == FIF_TIFF && !TiffMetadataIsSound(path)) throw ELoadFailed("damaged TIFF metadata");
    if (fif == FIF_ICO && !IconDirectoryIsSound(path)) throw ELoadFailed("damaged icon directory");
    TFreeImageMultiPtr& handle = m_result.MultiBitmap;
    handle.reset(FreeImage_OpenMultiBitmap(fif, path.constData(), FALSE, TRUE, FALSE, 0));
    if (!handle) return TAttempt::NotOpened;
    if (m_stop.load()) return Stopped();
    // A file that only claims the format (no page, or a page that does not decode) goes
    // on to the single-image attempt, which looks at its content.
    const int pageCount = FreeImage_GetPageCount(handle.get());
    if (pageCount <= 0) {
        handle.reset();
        return TAttempt::NotOpened;
    }
    const int pageIndex = std::clamp(m_request.PageIndex, 0, pageCount - 1);
    if (!PageWithinLimit(fif, path, pageIndex)) throw ELoadFailed("picture above the size limit");
    {
        const TLockedPage page(handle.get(), pageIndex);
        if (page.Get() == nullptr || !FreeImage_HasPixels(page.Get())) {
            handle.reset();
            return TAttempt::NotOpened;
        }
        m_result.PageCount = pageCount;
        m_result.PageIndex = pageIndex;
        FREE_IMAGE_FORMAT detected = FreeImage_GetFileType(path.constData(), 0);
        if (detected == FIF_UNKNOWN) detected = fif;
        Describe(page.Get(), detected, fileSize);
        if (!ConvertTo32Bits(page.Get(), m_result.Bitmap, m_request.Settings.ToneMapGamma,
                             m_request.Settings.ToneMapExposure))
            throw ELoadFailed("page cannot be converted");
        // The holder starts an animation from frame 0 and the logical screen's colour;
        // read here, they cost the GUI thread no decode.
        if (fif == FIF_GIF) {
            auto first = std::make_unique<TGifFirstFrame>();
            if (pageIndex == 0) {
                ReadGifPage(page.Get(), 0, first->Page, first->Pixels);
                first->Background = GifBackground(page.Get());
            } else {
                DecodeGifPage(handle.get(), 0, first->Page, first->Pixels);
                const TLockedPage firstPage(handle.get(), 0);
                first->Background = GifBackground(firstPage.Get());
            }
            m_result.GifFirstFrame = std::move(first);
        }
    }
    return FinishDecoded();
}

TAttempt TImageLoadRun::LoadSingle(const QByteArray& path, std::int64_t fileSize) {
    const FREE_IMAGE_FORMAT detected = FreeImage_GetFileType(path.constData(), 0);
    FREE_IMAGE_FORMAT fif = detected;
    if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.constData());
    if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) return TAttempt::NotOpened;
    // Camera RAW files had their turn with the system's LibRaw, which refused this one;
    // FreeImage's own, older copy of it reads such files' uninitialised fields (valgrind).
    if (fif == FIF_RAW) throw ELoadFailed("camera RAW the RAW decoder refused");
    if (fif == FIF_JPEG) return LoadJpeg(path, fileSize);
    if (fif == FIF_PNG)
        if (const std::optional<TAttempt> png = LoadPng(path, fileSize)) return *png;
    if (fif == FIF_TIFF && !TiffMetadataIsSound(path)) throw ELoadFailed("damaged TIFF metadata");
    if (fif == FIF_ICO && !IconDirectoryIsSound(path)) throw ELoadFailed("damaged icon directory");
    if (!PictureWithinLimit(fif, path)) throw ELoadFailed("picture above the size limit");
    if (fif == FIF_PSD && !PsdDataIsSound(path)) throw ELoadFailed("damaged Photoshop data");

    TFreeImagePtr& dib = m_result.SingleBitmap;
    dib.reset(FreeImage_Load(fif, path.constData(), 0));
    if (!dib) return TAttempt::NotOpened;
    if (m_stop.load()) return Stopped();
    // Formats without a signature are found by their extension; name that format
    // rather than none.
    Describe(dib.get(), detected != FIF_UNKNOWN ? detected : fif, fileSize);
    // libtiff turns some TIFF layouts itself.
    if (fif != FIF_TIFF) TakeOrientation(ExifOrientationTag(dib.get()));
    if (!ConvertTo32Bits(dib.get(), m_result.Bitmap, m_request.Settings.ToneMapGamma,
                         m_request.Settings.ToneMapExposure))
        throw ELoadFailed("picture cannot be converted");
    return FinishDecoded();
}

// Header and metadata from FreeImage without pixels, the pixels from libjpeg-turbo
// straight into the bitmap; what the fast decoder refuses goes through FreeImage.
TAttempt TImageLoadRun::LoadJpeg(const QByteArray& path, std::int64_t fileSize) {
    TFreeImagePtr& dib = m_result.SingleBitmap;
    // FreeImage only sees metadata it can read safely.
    dib = LoadJpegHeaderGuarded(path);
    if (!dib) return TAttempt::NotOpened;
    if (m_stop.load()) return Stopped();
    Describe(dib.get(), FIF_JPEG, fileSize);
    // Read from the guarded header load: a damaged Exif block was taken out before.
    TakeOrientation(ExifOrientationTag(dib.get()));
    if (!WithinImageLimit(FreeImage_GetWidth(dib.get()), FreeImage_GetHeight(dib.get())))
        throw ELoadFailed("picture above the size limit");

    // A tagged photo is converted to the display's colours as its rows arrive.
    TJpegRowWork convert;
    if (m_request.Settings.ColourManagement) {
        if (TColourConversion conversion =
                TColourConversion::Between(m_result.IccProfile, DisplayProfile()))
            convert = [conversion](TBitmap32& rows, int first, int last) {
                conversion.Rows(rows, first, last);
            };
    }
    QuickLook(path, convert);
    if (m_stop.load()) return Stopped();
    switch (DecodeJpegPixels(path, m_result.Bitmap, m_stop, m_orientation, 1, convert)) {
    case TJpegDecodeResult::Decoded:
        // Turned on the way in.
        m_orientation = kExifOrientationNone;
        m_coloursConverted = true;
        break;
    case TJpegDecodeResult::Stopped:
        return Stopped();
    case TJpegDecodeResult::TooLarge:
        throw ELoadFailed("picture above the size limit");
    case TJpegDecodeResult::Refused: {
        TFreeImagePtr full = LoadJpegGuarded(path);
        if (!full) throw ELoadFailed("JPEG cannot be decoded");
        dib = std::move(full);
        m_result.HasAlpha = FreeImage_IsTransparent(dib.get()) != FALSE;
        if (!ConvertTo32Bits(dib.get(), m_result.Bitmap, m_request.Settings.ToneMapGamma,
                             m_request.Settings.ToneMapExposure))
            throw ELoadFailed("picture cannot be converted");
        break;
    }
    }
    m_result.Bitmap.Changed();
    return FinishDecoded();
}

// The metadata FreeImage's PNG reader makes of the text chunks and the modification
// time, added to the header it read without pixels (which has only what stands before
// the picture's data): the result is the tags of its full load.
void AddPngMetadata(FIBITMAP* dib, const TPngChunks& chunks) {
    for (const TPngText& text : chunks.Texts) {
        const std::unique_ptr<FITAG, decltype(&FreeImage_DeleteTag)> tag(FreeImage_CreateTag(),
                                                                         &FreeImage_DeleteTag);
        if (!tag) return;
        FreeImage_SetTagLength(tag.get(), text.Length);
        FreeImage_SetTagCount(tag.get(), text.Length);
        FreeImage_SetTagType(tag.get(), FIDT_ASCII);
        FreeImage_SetTagValue(tag.get(), text.Text.constData());
        if (text.Key == "XML:com.adobe.xmp") {
            FreeImage_SetTagKey(tag.get(), "XMLPacket");
            FreeImage_SetMetadata(FIMD_XMP, dib, FreeImage_GetTagKey(tag.get()), tag.get());
        } else {
            FreeImage_SetTagKey(tag.get(), text.Key.constData());
            FreeImage_SetMetadata(FIMD_COMMENTS, dib, FreeImage_GetTagKey(tag.get()), tag.get());
        }
    }
    if (!chunks.Time) return;
    const std::unique_ptr<FITAG, decltype(&FreeImage_DeleteTag)> tag(FreeImage_CreateTag(),
                                                                     &FreeImage_DeleteTag);
    if (!tag) return;
    const DWORD length = DWORD(std::strlen(chunks.Time->constData()) + 1);
    FreeImage_SetTagLength(tag.get(), length);
    FreeImage_SetTagCount(tag.get(), length);
    FreeImage_SetTagType(tag.get(), FIDT_ASCII);
    FreeImage_SetTagID(tag.get(), 0x0132); // the EXIF DateTime tag
    FreeImage_SetTagValue(tag.get(), chunks.Time->constData());
    FreeImage_SetTagKey(tag.get(), "DateTime");
    FreeImage_SetMetadata(FIMD_EXIF_MAIN, dib, FreeImage_GetTagKey(tag.get()), tag.get());
}

// Shows a picture while its rows arrive: a reduced copy of what has arrived is drawn by
// the request's Prepare and handed to its quick look, first after the request's delay
// and then at most as often as keeps the drawing within a twentieth of the decode's time,
// and only while the rest of the picture looks at least that delay away.
class TArrivingLook {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr auto kMinInterval = std::chrono::milliseconds(150);
    static constexpr int kCostShare = 20;

    TArrivingLook(const TImageLoadRequest& request, int width, int height)
        : m_request(request), m_start(TClock::now()),
          m_delay(std::chrono::milliseconds(request.Quick.FirstAfterMs)),
          m_next(m_start + m_delay) {
        const TImageLoadRequest::TQuickLook& quick = request.Quick;
        if (!quick.Ready || !request.Prepare || quick.Width <= 0 || quick.Height <= 0) return;
        // As small as still covers the fitted picture.
        const double fit = std::min(double(quick.Width) / std::max(width, 1),
                                    double(quick.Height) / std::max(height, 1));
        const int factor = fit >= 1 ? 1 : std::max(1, int(1 / fit));
        m_look.emplace(width, height, factor);
    }

    [[nodiscard]] bool Wanted() const { return m_look.has_value(); }

    void Rows(const TBitmap32& picture, int first, int count, bool coarse) {
        if (!coarse) m_look->TakeRows(picture, first, count);
        // The whole picture follows at once.
        if (!coarse && first + count >= picture.Height()) return;
        const TClock::time_point start = TClock::now();
        if (start < m_next) return;
        // Rows that arrive in order tell how far the picture is from complete: a look
        // shortly before the whole picture is only work.
        const int done = first + count;
        if (!coarse && done > 0 && (start - m_start) * (picture.Height() - done) / done < m_delay)
            return;
        if (coarse) m_look->TakeWhole(picture);
        TDrawnPicture drawn;
        m_request.Prepare(m_look->Picture(), drawn);
        if (!drawn.Bitmap.Empty()) m_request.Quick.Ready(std::move(drawn));
        const TClock::time_point end = TClock::now();
        m_next = end + std::max<TClock::duration>(kMinInterval, (end - start) * (kCostShare - 1));
    }

private:
    const TImageLoadRequest& m_request;
    TClock::time_point m_start;
    TClock::duration m_delay;
    TClock::time_point m_next;
    std::optional<TPartialLook> m_look;
};

// Header and metadata from FreeImage without pixels, the pixels from libpng straight
// into the bitmap, shown while they arrive when the request wants a quick look. Nothing
// (FreeImage's reader decides) for a file the fast decoder refuses.
std::optional<TAttempt> TImageLoadRun::LoadPng(const QByteArray& path, std::int64_t fileSize) {
    TFreeImagePtr header(FreeImage_Load(FIF_PNG, path.constData(), FIF_LOAD_NOPIXELS));
    if (!header) return std::nullopt;
    if (m_stop.load()) return Stopped();
    const int width = int(FreeImage_GetWidth(header.get()));
    const int height = int(FreeImage_GetHeight(header.get()));
    if (!WithinImageLimit(unsigned(width), unsigned(height)))
        throw ELoadFailed("picture above the size limit");
    TArrivingLook look(m_request, width, height);
    TPngRowsReady rows;
    if (look.Wanted())
        rows = [&look](const TBitmap32& picture, int first, int count, bool coarse) {
            look.Rows(picture, first, count, coarse);
        };
    TPngChunks chunks;
    switch (DecodePngPixels(path, m_result.Bitmap, m_stop, &chunks, rows)) {
    case TPngDecodeResult::Decoded:
        break;
    case TPngDecodeResult::Stopped:
        return Stopped();
    case TPngDecodeResult::TooLarge:
        throw ELoadFailed("picture above the size limit");
    case TPngDecodeResult::Refused:
        return std::nullopt;
    }
    AddPngMetadata(header.get(), chunks);
    m_result.SingleBitmap = std::move(header);
    FIBITMAP* dib = m_result.SingleBitmap.get();
    Describe(dib, FIF_PNG, fileSize);
    // FreeImage's full load calls a 32-bit picture transparent when an alpha is below 255.
    if (FreeImage_GetBPP(dib) == 32) m_result.HasAlpha = !m_result.Bitmap.IsOpaque();
    TakeOrientation(ExifOrientationTag(dib));
    return FinishDecoded();
}

void TImageLoadRun::QuickLook(const QByteArray& path, const TJpegRowWork& convert) {
    const TImageLoadRequest::TQuickLook& quick = m_request.Quick;
    if (!quick.Ready || !m_request.Prepare) return;
    int w = int(FreeImage_GetWidth(m_result.SingleBitmap.get()));
    int h = int(FreeImage_GetHeight(m_result.SingleBitmap.get()));
    if (ExifOrientationSwapsSides(m_orientation)) std::swap(w, h);
    const int denom = QuickLookDenominator(w, h, quick.Width, quick.Height);
    if (denom <= 1) return;
    try {
        TBitmap32 small;
        if (DecodeJpegPixels(path, small, m_stop, m_orientation, denom, convert) !=
            TJpegDecodeResult::Decoded)
            return;
        TDrawnPicture drawn;
        m_request.Prepare(small, drawn);
        if (!drawn.Bitmap.Empty()) quick.Ready(std::move(drawn));
    } catch (const std::exception&) {
        // Only a first look: the whole picture follows all the same.
    }
}

void TImageLoadRun::LoadSecondary(std::int64_t fileSize) {
    TSecondaryFormatRegistry::Instance().Load(m_request.FileName, m_result.Bitmap);
    m_result.ImageKind = TVekImageKind::ikOther;
    AddBitmapInfo(fileSize, QStringLiteral("Unknown Image format"), m_result.Bitmap,
                  m_result.InfoList);
    Finish();
}

} // namespace

int ExifOrientationTag(FIBITMAP* dib) {
    if (dib == nullptr) return kExifOrientationNone;
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_EXIF_MAIN, dib, "Orientation", &tag) || tag == nullptr)
        return kExifOrientationNone;
    const void* value = FreeImage_GetTagValue(tag);
    if (value == nullptr || FreeImage_GetTagCount(tag) != 1) return kExifOrientationNone;
    int orientation = kExifOrientationNone;
    const FREE_IMAGE_MDTYPE type = FreeImage_GetTagType(tag);
    const DWORD length = FreeImage_GetTagLength(tag);
    if (type == FIDT_SHORT && length >= sizeof(WORD))
        orientation = *static_cast<const WORD*>(value);
    else if (type == FIDT_LONG && length >= sizeof(DWORD))
        orientation = int(std::min<DWORD>(*static_cast<const DWORD*>(value), 0xFFFF));
    return IsExifOrientation(orientation) ? orientation : kExifOrientationNone;
}

int ExifOrientationOfRawFlip(int flip) {
    // Indexed by the decoder's value: what the same turn is called in EXIF.
    constexpr int kCodes[8] = {1, 2, 4, 3, 5, 8, 6, 7};
    return flip >= 0 && flip < 8 ? kCodes[flip] : kExifOrientationNone;
}

void RunImageLoad(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                  TImageLoadResult& result) {
    TImageLoadRun(request, stop, result).Run();
    if (result.Status != TImageLoaderProStatus::ilSucces || !request.Prepare || stop) return;
    try {
        request.Prepare(result.Bitmap, result.Drawn);
    } catch (...) {
        result.Drawn = TDrawnPicture();
    }
}

int QuickLookDenominator(int width, int height, int boxWidth, int boxHeight) {
    if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return 1;
    const double fit = std::min(double(boxWidth) / width, double(boxHeight) / height);
    for (const int denom : {8, 4, 2})
        if (denom * fit <= 1) return denom;
    return 1;
}
