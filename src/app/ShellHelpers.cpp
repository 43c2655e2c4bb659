#include "app/ShellHelpers.h"

#include "gfx/Color32.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include <array>

QString AudioFilter(bool dialog) {
    if (dialog)
        return QStringLiteral("All audio files (*.wma,*.mp3,*.wav)|*.wma;*.mp3;*.wav|"
                              "Windows media audio (*.wma)|*.wma|MPEG 3 (*.mp3)|*.mp3|"
                              "Wav (*.wav)|*.wav|");
    return QStringLiteral("mp3, wma, wav");
}

std::vector<TBitmap32> ColourSwatches() {
    constexpr int kSide = 14;
    constexpr std::array<TColor32, 4> kColours{0xFFFF0000u, 0xFF007F00u, 0xFF0000FFu, 0xFF7F7F7Fu};
    constexpr std::array<int, 5> kRingAlphas{0, 50, 100, 250, 200}; // outermost first
    std::vector<TBitmap32> swatches;
    swatches.reserve(kColours.size());
    for (const TColor32 colour : kColours) {
        TBitmap32& swatch = swatches.emplace_back(kSide, kSide);
        swatch.Clear(colour);
        for (int ring = 0; ring < int(kRingAlphas.size()); ++ring) {
            const TColor32 c = WithAlpha(colour, kRingAlphas[ring]);
            const int last = kSide - 1 - ring;
            for (int i = ring; i <= last; ++i) {
                swatch.SetPixel(i, ring, c);
                swatch.SetPixel(i, last, c);
                swatch.SetPixel(ring, i, c);
                swatch.SetPixel(last, i, c);
            }
        }
    }
    return swatches;
}

bool OpenUrl(const QString& address) {
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    if (address.trimmed().isEmpty() || !url.isValid() || url.scheme().isEmpty()) return false;
    return QDesktopServices::openUrl(url);
}
