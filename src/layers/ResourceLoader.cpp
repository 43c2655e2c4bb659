#include "layers/ResourceLoader.h"

#include "app/GuiThread.h"
#include "platform/ThreadPriority.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>

namespace {

// One compiled-in picture: the drawing it is made from (":/icons/<File>.svg") and
// the size it is rendered at. Several names may share one drawing.
struct TPicture {
    const char* File;
    int Width;
    int Height;
};

// The wizard's page pictures: a tall band beside each page.
constexpr int kLogoWidth = 96, kLogoHeight = 260;

// Larger icons than this are refused rather than allocated.
constexpr int kMaxIconSize = 1024;

// The toolbar icons: "<base>32" and "<base>16", and the base alone as a multi-size
// icon drawn at any size.
constexpr std::pair<const char*, const char*> kToolbarIcons[] = {
    {"zBack", "back"},
    {"zNext", "next"},
    {"zZoomFit", "zoomfit"},
    {"zZoomNo", "zoomno"},
    {"zRotateLeft", "rotateleft"},
    {"zRotateRight", "rotateright"},
    {"zSlideShow", "slideshow"},
    {"zWizard", "wizard"},
    {"zOptions", "options"},
    {"zExit", "exit"},
};

// The 16-pixel pictures: menu and action icons, the check mark of the association
// grid and the page buttons' pair (which have no 32-pixel form).
constexpr std::pair<const char*, const char*> kMenuIcons[] = {
    {"zOpenImage", "openimage"},
    {"zProperties", "properties"},
    {"zPrevious", "back"},
    {"zNext", "next"},
    {"zZoomFit16", "zoomfit"},
    {"zZoomNo16", "zoomno"},
    {"zRotateLeft", "rotateleft"},
    {"zRotateRight", "rotateright"},
    {"zSlideShow", "slideshow"},
    {"zSettings", "options"},
    {"zExit", "exit"},
    {"zHelp", "help"},
    {"zPreviousFrame", "previousframe"},
    {"zNextFrame", "nextframe"},
    {"zPlay", "play"},
    {"zPause", "pause"},
    {"zCut", "cut"},
    {"zCopy", "copy"},
    {"zPaste", "paste"},
    {"zDelete", "delete"},
    {"zFont", "font"},
    {"zAddImage", "addimage"},
    {"zDeleteImage", "deleteimage"},
    {"zSelectAllImages", "selectallimages"},
    {"zInverseSelection", "inverseselection"},
    {"zUp", "up"},
    {"zDown", "down"},
    {"zStop", "stop"},
    {"zSaveSlideShow", "saveslideshow"},
    {"zLoadSlideShow", "loadslideshow"},
    {"zAddMusic", "addmusic"},
    {"zDeleteMusic", "deletemusic"},
    {"zSelectAllMusic", "selectallmusic"},
    {"zDesktop", "desktop"},
    {"zEdit", "edit"},
    {"zPrint", "print"},
    {"zSlideShowWizard", "wizard"},
    {"zOK", "ok"},
    {"zPreviousFrame16", "previousframe"},
    {"zNextFrame16", "nextframe"},
};

struct TCatalogue {
    QHash<QString, TPicture> Pictures; // by lower-case name
    QHash<QString, const char*> Icons; // multi-size icons by lower-case base name
};

const TCatalogue& Catalogue() {
    static const TCatalogue catalogue = [] {
        TCatalogue c;
        const auto add = [&c](const QString& name, const char* file, int w, int h) {
            c.Pictures.insert(name.toLower(), TPicture{file, w, h});
        };
        for (const auto& [base, file] : kToolbarIcons) {
            add(QString::fromLatin1(base) + QLatin1String("32"), file, 32, 32);
            add(QString::fromLatin1(base) + QLatin1String("16"), file, 16, 16);
            c.Icons.insert(QString::fromLatin1(base).toLower(), file);
        }
        for (const auto& [name, file] : kMenuIcons) add(QString::fromLatin1(name), file, 16, 16);
        add(QStringLiteral("zSeparator32"), "separator", 2, 32);
        add(QStringLiteral("zSeparator16"), "separator", 2, 16);
        add(QStringLiteral("zMouseHover32"), "hover", 38, 38);
        add(QStringLiteral("zMouseHover16"), "hover", 20, 20);
        static const char* const clocks[] = {"clock0", "clock1", "clock2", "clock3",
                                             "clock4", "clock5", "clock6", "clock7"};
        for (int i = 0; i < 8; ++i)
            add(QStringLiteral("zClock") + QString::number(i), clocks[i], 26, 26);
        add(QStringLiteral("zButton"), "button", 25, 25);
        // The wizard's page pictures.
        add(QStringLiteral("zWizardLogo1"), "wizardlogo1", kLogoWidth, kLogoHeight);
        add(QStringLiteral("zWizardLogo2"), "wizardlogo2", kLogoWidth, kLogoHeight);
        add(QStringLiteral("zWizardLogo3"), "wizardlogo3", kLogoWidth, kLogoHeight);
        return c;
    }();
    return catalogue;
}

// Renders the drawing `file` at width x height into `out` (which takes that size).
// A fresh renderer per call, so that any thread may render at the same time.
bool Render(const char* file, int width, int height, TBitmap32& out) {
    QSvgRenderer renderer(QStringLiteral(":/icons/") + QLatin1String(file) + QLatin1String(".svg"));
    if (!renderer.isValid()) return false;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return false;
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, width, height));
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return false;
    out.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::memcpy(out.ScanLine(y), image.constScanLine(y), std::size_t(width) * 4);
    return true;
}

// A side of `size` pixels drawn at `scale`.
int Scaled(int size, double scale) {
    if (scale == 1.0) return size;
    const double v = std::round(size * scale);
    return v >= 1 ? (v <= kMaxIconSize ? int(v) : kMaxIconSize + 1) : 1;
}

// The worker's part of a load: the picture named "<base><size>", else the icon of
// the base name, else a transparent square. Never throws.
void LoadPicture(TBitmap32& picture, const QString& baseName, int size, double scale) noexcept {
    const int side = Scaled(size, scale);
    try {
        if (LoadPngResource(picture, baseName + QString::number(size), scale)) return;
        LoadIconResource(picture, baseName, side);
        return;
    } catch (...) {
    }
    try {
        picture.SetSize(side <= kMaxIconSize ? side : 0, side <= kMaxIconSize ? side : 0);
    } catch (...) {
        picture.Delete();
    }
}

} // namespace

bool LoadPngResource(TBitmap32& bitmap, const QString& name, double scale) {
    const auto& pictures = Catalogue().Pictures;
    const auto it = pictures.constFind(name.toLower());
    if (it == pictures.constEnd()) return false;
    if (!(scale > 0) || !std::isfinite(scale)) return false;
    const int width = Scaled(it->Width, scale), height = Scaled(it->Height, scale);
    if (width > kMaxIconSize || height > kMaxIconSize) return false;
    TBitmap32 picture;
    if (!Render(it->File, width, height, picture)) return false;
    bitmap.SwapPixels(picture);
    return true;
}

QPixmap LoadResourcePixmap(const QString& name) {
    TBitmap32 bitmap;
    if (!LoadPngResource(bitmap, name)) return {};
    return QPixmap::fromImage(bitmap.ImageView().copy());
}

bool LoadIconResource(TBitmap32& bitmap, const QString& name, int size) {
    if (size > kMaxIconSize) {
        bitmap.Delete();
        return false;
    }
    TBitmap32 picture;
    picture.SetSize(size, size);
    const auto& icons = Catalogue().Icons;
    const auto it = icons.constFind(name.toLower());
    const bool found =
        it != icons.constEnd() && !picture.Empty() && Render(it.value(), size, size, picture);
    bitmap.SwapPixels(picture);
    return found;
}

void LoadMarkerResource(TBitmap32& bitmap, double scale) {
    TBitmap32 source;
    if (!LoadPngResource(source, QStringLiteral("zButton"), scale)) return;
    TBitmap32 marker;
    marker.SetSize(source.Width(), source.Height());
    for (int y = 0; y < source.Height(); ++y) {
        const TColor32* s = source.ScanLine(y);
        TColor32* d = marker.ScanLine(y);
        for (int x = 0; x < source.Width(); ++x) {
            const std::uint32_t c = s[x];
            const std::uint32_t intensity =
                (61 * ((c >> 16) & 0xFF) + 174 * ((c >> 8) & 0xFF) + 21 * (c & 0xFF)) >> 8;
            d[x] = (intensity << 24) | 0x00FFFFFFu;
        }
    }
    bitmap.SwapPixels(marker);
}

void GreyOut(TBitmap32& bitmap) {
    if (bitmap.Empty()) return;
    const std::size_t count = std::size_t(bitmap.Width()) * bitmap.Height();
    TColor32* p = bitmap.Bits();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t c = p[i];
        const std::uint64_t sum = 0x366CF4ull * ((c >> 16) & 0xFF) +
                                  0xB71759ull * ((c >> 8) & 0xFF) + 0x127BB3ull * (c & 0xFF);
        const auto y = std::uint32_t(std::min<std::uint64_t>((sum + 0x800000) >> 24, 255));
        p[i] = (c & 0xFF000000u) | (y << 16) | (y << 8) | y;
    }
    bitmap.Changed();
}

// ---------------------------------------------------------------------------

// What the worker and the completion share. The loader owns it; a completion in
// the GUI thread's queue keeps it alive until it has run or been dropped, so a
// loader destroyed from inside `done` leaves nothing dangling.
struct TResourceLoader::TShared {
    TBitmap32* Target = nullptr;
    std::function<void()> Done;
    int Size = 0;
    double Scale = 1.0;
    QString BaseName;
    TBitmap32 Picture; // the worker's own; moved into Target on the GUI thread
    TDeliveryGuard Guard;
    bool Finished = false; // GUI thread only
    std::thread Worker;

    // Worker thread (or the creating thread when no thread could be started).
    static void Run(const std::weak_ptr<TShared>& weak) {
        const auto self = weak.lock(); // the loader waits for us, so it is there
        if (!self) return;
        LoadPicture(self->Picture, self->BaseName, self->Size, self->Scale);
        PostToGuiThread(self->Guard.GetToken(), [self] { self->Complete(); });
    }

    // GUI thread.
    void Complete() {
        Target->SwapPixels(Picture);
        Picture.Delete();
        Finished = true;
        // The target's owner may have let the loader go while it repainted.
        if (!Guard.Alive()) return;
        // `done` may destroy the loader: call a copy and touch nothing afterwards.
        const auto done = Done;
        if (done) done();
    }
};

TResourceLoader::TResourceLoader(TBitmap32& target, std::function<void()> done, int size,
                                 const QString& baseName, double scale)
    : m_shared(std::make_shared<TShared>()) {
    m_shared->Target = &target;
    m_shared->Done = std::move(done);
    m_shared->Size = size;
    m_shared->Scale = scale > 0 && std::isfinite(scale) ? scale : 1.0;
    m_shared->BaseName = baseName;
    const std::weak_ptr<TShared> weak = m_shared;
    try {
        m_shared->Worker = std::thread([weak] {
            SetCurrentThreadPriority(TThreadPriority::tpLower);
            TShared::Run(weak);
        });
    } catch (...) {
        // No thread to be had: load here; the completion still comes later.
        TShared::Run(weak);
    }
}

TResourceLoader::~TResourceLoader() {
    m_shared->Guard.Revoke();
    if (m_shared->Worker.joinable()) m_shared->Worker.join();
    // A completion still queued holds the shared part; let it hold nothing of ours.
    m_shared->Done = nullptr;
    m_shared->Picture.Delete();
}

bool TResourceLoader::Finished() const {
    return m_shared->Finished;
}
