#pragma once

#include "gfx/Bitmap32.h"
#include "gfx/BitmapOps.h"
#include "loading/FreeImagePtr.h"
#include "loading/GifFrame.h"
#include "loading/VekImageKind.h"
#include "loading/VekImageSettings.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// What one load works from: a copy of the loader's inputs taken when the load was
// requested, so the owner may change its settings while the worker reads these.
struct TImageLoadRequest {
    QString FileName;
    int PageIndex = 0;
    bool CombineAlpha = false;
    TVekImageSettings Settings;
    // Whether the toolkit's own readers are the last resort. They need the running
    // application, so a load started before it goes without them.
    bool UseSecondary = true;
    // Runs on the worker after a successful decode with the picture and the result's
    // Drawn, typically to draw the picture as its window will first show it. Optional;
    // what it throws is dropped with whatever it drew.
    std::function<void(TBitmap32& Picture, TDrawnPicture& Drawn)> Prepare;
    // A first look at a large JPEG for a window that is waiting for it: with `Ready` set,
    // a picture at least twice as large as the `Width` x `Height` box it is fitted into
    // is first decoded at a half, a quarter or an eighth of its size (as small as still
    // covers the box), drawn by Prepare and handed to `Ready` on the worker; the whole
    // picture is decoded after it as always.
    // A picture that arrives row by row (PNG) is instead drawn as far as it has arrived,
    // first after `FirstAfterMs` of decoding, then again now and then (the drawing kept
    // to a twentieth of the decode's time), each drawing handed to `Ready`; not when the
    // rows so far tell that the rest comes within `FirstAfterMs`.
    struct TQuickLook {
        int Width = 0, Height = 0;
        std::function<void(TDrawnPicture&& Drawn)> Ready;
        int FirstAfterMs = 100;
    } Quick;
};

// The reduction for a quick look at a `width` x `height` picture fitted into a box:
// the largest of 2, 4 and 8 that still leaves at least the fitted size, or 1 (none).
[[nodiscard]] int QuickLookDenominator(int width, int height, int boxWidth, int boxHeight);

// What one load leaves behind; the worker alone writes it, and the loader takes it
// over on the GUI thread once the worker has ended.
struct TImageLoadResult {
    TImageLoaderProStatus Status = TImageLoaderProStatus::ilNone;
    bool HasAlpha = false;
    TVekImageKind ImageKind = TVekImageKind::ikNone;
    FREE_IMAGE_FORMAT ImageFormat = FIF_UNKNOWN;
    int PageIndex = 0;
    std::optional<int> PageCount; // set by multi-page and RAW loads only
    QStringList ExifList, IptcList, XmpList, GeoTiffList, InfoList;
    // The picture's embedded ICC colour profile (empty: none).
    QByteArray IccProfile;
    // On entry: a buffer the decoders may reuse when the new picture has its size.
    TBitmap32 Bitmap;
    TFreeImageMultiPtr MultiBitmap;
    // A GIF's first frame read for the multi-page holder (GIF loads only).
    std::unique_ptr<TGifFirstFrame> GifFirstFrame;
    TFreeImagePtr SingleBitmap;
    // What the request's Prepare drew, if anything.
    TDrawnPicture Drawn;
    // Why a load failed, when there is more to say than that the file cannot be read
    // (a decoder helper that crashed or ran too long).
    QString ErrorReason;
};

// Runs one load on the calling (worker) thread: the RAW decoder, then FreeImage
// (multi-page access for icon, TIFF and GIF files, a single-image load otherwise; JPEG
// pixels straight into the bitmap), then the secondary picture-format registry.
// With Settings.ExifOrientation the picture is turned upright by the orientation its
// camera recorded, before Prepare sees it: the EXIF tag of single-image loads (TIFF
// files excepted, which libtiff partly turns itself and whose other pages the
// multi-page holder shows as stored) and the RAW decoder's orientation code. The
// information lines keep the file's own width and height.
// `stop` is looked at before anything is read, after the file is opened and after the
// conversion; a stopped load ends in ilTerminated with its handles released. Nothing
// is thrown: every failure ends in ilError.
void RunImageLoad(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                  TImageLoadResult& result);

// The orientation code (1..8) recorded in the main EXIF directory of a FreeImage
// bitmap; 1 (as stored) when there is none or the tag is not a single SHORT or LONG
// of 1..8.
[[nodiscard]] int ExifOrientationTag(FIBITMAP* dib);

// The orientation code of the RAW decoder's orientation value (bit 4 exchanges rows and
// columns, then bit 2 mirrors top to bottom and bit 1 left to right); 1 for values
// outside 0..7.
[[nodiscard]] int ExifOrientationOfRawFlip(int flip);
