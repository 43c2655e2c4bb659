#include "shell/Wallpaper.h"

#include "gfx/Resampler.h"
#include "loading/ColorCounter.h"
#include "platform/AtomicFile.h"
#include "platform/Registry.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

// a * b / c rounded to nearest (halves away from zero) with a 64-bit product,
// held to the int range.
int MulDiv(int a, int b, int c) {
    const std::int64_t product = std::int64_t(a) * b;
    const std::int64_t divisor = std::llabs(c);
    std::int64_t q = (std::llabs(product) + divisor / 2) / divisor;
    if ((product < 0) != (c < 0)) q = -q;
    return int(std::clamp<std::int64_t>(q, INT_MIN, INT_MAX));
}

QString PictureOption(TWallpaperStyle style) {
    switch (style) {
    case TWallpaperStyle::wsTile:
        return QStringLiteral("wallpaper");
    case TWallpaperStyle::wsCenter:
        return QStringLiteral("centered");
    case TWallpaperStyle::wsStretch:
        return QStringLiteral("stretched");
    case TWallpaperStyle::wsOptimal:
        break;
    }
    return QStringLiteral("zoom");
}

int XfceImageStyle(TWallpaperStyle style) {
    switch (style) {
    case TWallpaperStyle::wsTile:
        return 2;
    case TWallpaperStyle::wsCenter:
        return 1;
    case TWallpaperStyle::wsStretch:
        return 3;
    case TWallpaperStyle::wsOptimal:
        break;
    }
    return 5; // zoomed: the optimal picture already has the screen's size
}

QString FehOption(TWallpaperStyle style) {
    switch (style) {
    case TWallpaperStyle::wsTile:
        return QStringLiteral("--bg-tile");
    case TWallpaperStyle::wsCenter:
        return QStringLiteral("--bg-center");
    case TWallpaperStyle::wsStretch:
        return QStringLiteral("--bg-scale");
    case TWallpaperStyle::wsOptimal:
        break;
    }
    return QStringLiteral("--bg-max");
}

enum class TDesktop { Gnome, Cinnamon, Mate, Kde, Xfce, Other };

TDesktop DesktopOf(const QString& currentDesktop) {
    for (const QString& raw : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const QString name = raw.trimmed().toLower();
        if (name == QLatin1String("gnome") || name == QLatin1String("gnome-classic") ||
            name == QLatin1String("gnome-flashback") || name == QLatin1String("unity") ||
            name == QLatin1String("budgie"))
            return TDesktop::Gnome;
        if (name == QLatin1String("x-cinnamon") || name == QLatin1String("cinnamon"))
            return TDesktop::Cinnamon;
        if (name == QLatin1String("mate")) return TDesktop::Mate;
        if (name == QLatin1String("kde")) return TDesktop::Kde;
        if (name == QLatin1String("xfce")) return TDesktop::Xfce;
    }
    return TDesktop::Other;
}

TWallpaperCommand Gsettings(const char* schema, const char* key, const QString& value,
                            bool setsPicture) {
    return {{QStringLiteral("gsettings"), QStringLiteral("set"), QLatin1String(schema),
             QLatin1String(key), value},
            setsPicture};
}

struct TRunResult {
    bool Ok = false;
    QByteArray Output;
};

// Runs a program found on PATH, giving it until `deadline` (and never more than a
// few seconds); a program that cannot be found, crashes, times out or exits with
// a non-zero code fails.
TRunResult Run(const QStringList& argv, const QDeadlineTimer& deadline, bool wantOutput) {
    constexpr int kMaxMs = 5000;
    TRunResult result;
    const QString program = QStandardPaths::findExecutable(argv.value(0));
    if (program.isEmpty() || deadline.hasExpired()) return result;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!wantOutput) process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, argv.mid(1));
    const int waitMs = int(std::clamp<qint64>(deadline.remainingTime(), 0, kMaxMs));
    if (!process.waitForFinished(waitMs)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.Ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (wantOutput) result.Output = process.readAllStandardOutput();
    return result;
}

void WriteStyleValues(TWallpaperStyle style) {
    TRegistry registry(TRegRoot::rrCurrentUser);
    if (!registry.OpenKey(QStringLiteral("\\Control panel\\Desktop"), true)) return;
    const bool tile = style == TWallpaperStyle::wsTile;
    const bool stretch = style == TWallpaperStyle::wsStretch;
    registry.WriteString(QStringLiteral("TileWallpaper"),
                         tile ? QStringLiteral("1") : QStringLiteral("0"));
    registry.WriteString(QStringLiteral("WallpaperStyle"),
                         stretch ? QStringLiteral("2") : QStringLiteral("0"));
    registry.CloseKey();
}

} // namespace

TRect FitRect(int sw, int sh, int tw, int th) {
    if (sw <= 0 || sh <= 0 || tw <= 0 || th <= 0) return {};
    if (std::int64_t(sh) * tw < std::int64_t(sw) * th) return {0, 0, tw, MulDiv(sh, tw, sw)};
    return {0, 0, MulDiv(sw, th, sh), th};
}

QString WallpaperFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = base + QStringLiteral("/Pictrel/");
    QDir().mkpath(folder); // a failure shows when the file is saved
    return folder;
}

namespace {

constexpr char kWallpaperStem[] = "VekImageViewer Wallpaper";

// The number of a wallpaper file's name: 0 for the unnumbered one, -1 for any other file.
qint64 WallpaperNumber(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^") + QLatin1String(kWallpaperStem) +
                                            QStringLiteral("(?: ([0-9]{1,18}))?\\.bmp$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch()) return -1;
    return match.capturedLength(1) > 0 ? match.captured(1).toLongLong() : 0;
}

QString NumberedName(qint64 number) {
    return WallpaperFolder() + QLatin1String(kWallpaperStem) + u' ' + QString::number(number) +
           QStringLiteral(".bmp");
}

qint64 LastWallpaperNumber() {
    const QStringList files = WallpaperFiles();
    return files.isEmpty() ? 0 : WallpaperNumber(QFileInfo(files.last()).fileName());
}

} // namespace

QStringList WallpaperFiles() {
    const QString folder = WallpaperFolder();
    std::vector<std::pair<qint64, QString>> numbered;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (const qint64 number = WallpaperNumber(name); number >= 0)
            numbered.emplace_back(number, folder + name);
    std::sort(numbered.begin(), numbered.end());
    QStringList files;
    for (const auto& [number, file] : numbered) files << file;
    return files;
}

QString WallpaperFileName() {
    return NumberedName(std::max<qint64>(LastWallpaperNumber(), 1));
}

TBitmap32 ComposeWallpaper(const TBitmap32& picture, TWallpaperStyle style, int screenW,
                           int screenH, TColor32 desktopColour) {
    TBitmap32 result;
    if (picture.Empty()) return result;
    const int pw = picture.Width();
    const int ph = picture.Height();

    if (style != TWallpaperStyle::wsOptimal) {
        result.SetSize(pw, ph);
        result.Clear(WithAlpha(desktopColour, 255));
        for (int y = 0; y < ph; ++y)
            ComposeRow(result.ScanLine(y), picture.ScanLine(y), pw, TDrawMode::dmBlend,
                       TCombineMode::cmBlend, 255);
        return result;
    }

    if (screenW <= 0 || screenH <= 0) return result;
    TRect fitted = FitRect(pw, ph, screenW, screenH);
    // A very thin picture would round to nothing; keep a line of it.
    fitted.Right = std::max(fitted.Right, 1);
    fitted.Bottom = std::max(fitted.Bottom, 1);
    const TRect screen{0, 0, screenW, screenH};
    result.SetSize(screenW, screenH);
    result.Clear(WithAlpha(DominantEdgeColor(picture, fitted, screen), 255));

    const int fw = fitted.Width();
    const int fh = fitted.Height();
    const TRect at = fitted.Offset(screenW / 2 - fw / 2, screenH / 2 - fh / 2);
    const TFloatRect plane{0, 0, double(fw), double(fh)};
    const TRect area{0, 0, fw, fh};
    if (picture.IsOpaque()) {
        ResampleArea(TResamplerKind::Lanczos, picture, picture.BoundsRect(), plane, area,
                     {result.ScanLine(at.Top) + at.Left, screenW});
    } else {
        // Translucent parts show the background: resample aside, then blend.
        TBitmap32 scaled(fw, fh);
        ResampleArea(TResamplerKind::Lanczos, picture, picture.BoundsRect(), plane, area,
                     {scaled.Bits(), fw});
        for (int y = 0; y < fh; ++y)
            ComposeRow(result.ScanLine(at.Top + y) + at.Left, scaled.ScanLine(y), fw,
                       TDrawMode::dmBlend, TCombineMode::cmBlend, 255);
    }
    return result;
}

QByteArray EncodeBmp(const TBitmap32& bitmap) {
    if (bitmap.Empty()) return {};
    constexpr int kHeaderSize = 14 + 40;
    const std::int64_t w = bitmap.Width();
    const std::int64_t h = bitmap.Height();
    const std::int64_t stride = (w * 3 + 3) & ~std::int64_t(3);
    const std::int64_t imageSize = stride * h;
    if (imageSize > INT32_MAX - kHeaderSize) return {};

    QByteArray data(qsizetype(kHeaderSize + imageSize), '\0');
    auto* p = reinterpret_cast<unsigned char*>(data.data());
    const auto put16 = [&](int at, std::uint32_t v) {
        p[at] = v & 0xFF;
        p[at + 1] = (v >> 8) & 0xFF;
    };
    const auto put32 = [&](int at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    p[0] = 'B';
    p[1] = 'M';
    put32(2, std::uint32_t(kHeaderSize + imageSize));
    put32(10, kHeaderSize);
    put32(14, 40);
    put32(18, std::uint32_t(w));
    put32(22, std::uint32_t(h)); // positive: rows run bottom-up
    put16(26, 1);
    put16(28, 24);
    put32(34, std::uint32_t(imageSize));
    put32(38, 2835); // 72 dpi
    put32(42, 2835);
    for (std::int64_t y = 0; y < h; ++y) {
        unsigned char* out = p + kHeaderSize + (h - 1 - y) * stride;
        const TColor32* row = bitmap.ScanLine(int(y));
        for (std::int64_t x = 0; x < w; ++x) {
            *out++ = BlueOf(row[x]);
            *out++ = GreenOf(row[x]);
            *out++ = RedOf(row[x]);
        }
    }
    return data;
}

std::vector<TWallpaperCommand> WallpaperCommands(const QString& desktop, const QString& file,
                                                 TWallpaperStyle style,
                                                 const QStringList& xfceProperties) {
    const QString uri = QString::fromLatin1(QUrl::fromLocalFile(file).toEncoded());
    const QString option = PictureOption(style);
    switch (DesktopOf(desktop)) {
    case TDesktop::Gnome:
        // The layout first, so the new picture shows once, already in place.
        return {Gsettings("org.gnome.desktop.background", "picture-options", option, false),
                Gsettings("org.gnome.desktop.background", "picture-uri", uri, true),
                Gsettings("org.gnome.desktop.background", "picture-uri-dark", uri, true)};
    case TDesktop::Cinnamon:
        return {Gsettings("org.cinnamon.desktop.background", "picture-options", option, false),
                Gsettings("org.cinnamon.desktop.background", "picture-uri", uri, true)};
    case TDesktop::Mate:
        return {Gsettings("org.mate.background", "picture-options", option, false),
                Gsettings("org.mate.background", "picture-filename", file, true)};
    case TDesktop::Kde:
        return {{{QStringLiteral("plasma-apply-wallpaperimage"), file}, true}};
    case TDesktop::Xfce: {
        std::vector<TWallpaperCommand> commands;
        const QString tool = QStringLiteral("xfconf-query");
        const QString channel = QStringLiteral("xfce4-desktop");
        for (const QString& raw : xfceProperties) {
            const QString property = raw.trimmed();
            if (!property.startsWith(u'/') || !property.endsWith(QLatin1String("/last-image")))
                continue;
            const QString styleProperty =
                property.left(property.size() - qsizetype(sizeof("last-image") - 1)) +
                QStringLiteral("image-style");
            // The style may not exist yet for a monitor: create it as an int.
            commands.push_back(
                {{tool, QStringLiteral("-c"), channel, QStringLiteral("-p"), styleProperty,
                  QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("int"),
                  QStringLiteral("-s"), QString::number(XfceImageStyle(style))},
                 false});
            commands.push_back({{tool, QStringLiteral("-c"), channel, QStringLiteral("-p"),
                                 property, QStringLiteral("-s"), file},
                                true});
        }
        return commands;
    }
    case TDesktop::Other:
        break;
    }
    return {{{QStringLiteral("feh"), FehOption(style), file}, true}};
}

bool SetWallpaper(const TBitmap32& picture, TWallpaperStyle style, int screenW, int screenH,
                  TColor32 desktopColour) {
    if (picture.Empty()) return false;
    const QString fileName = NumberedName(LastWallpaperNumber() + 1);
    WriteStyleValues(style);
    const QByteArray bmp =
        EncodeBmp(ComposeWallpaper(picture, style, screenW, screenH, desktopColour));
    if (bmp.isEmpty() || !WriteFileAtomically(fileName, bmp)) return false;
    const QStringList files = WallpaperFiles();
    for (qsizetype i = 0; i + 2 < files.size(); ++i) QFile::remove(files[i]);

    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    QDeadlineTimer deadline(15000);
    QStringList xfceProperties;
    if (DesktopOf(desktop) == TDesktop::Xfce) {
        const TRunResult listing = Run({QStringLiteral("xfconf-query"), QStringLiteral("-c"),
                                        QStringLiteral("xfce4-desktop"), QStringLiteral("-l")},
                                       deadline, true);
        if (listing.Ok) xfceProperties = QString::fromUtf8(listing.Output).split(u'\n');
    }
    bool shown = false;
    for (const TWallpaperCommand& command :
         WallpaperCommands(desktop, fileName, style, xfceProperties))
        if (Run(command.Argv, deadline, false).Ok && command.SetsPicture) shown = true;
    return shown;
}
