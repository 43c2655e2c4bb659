#include "app/ShellHelpers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QTextBrowser>
#include <QUrl>

#include <string>

namespace {

TEST(AudioFilter, DialogFilterAndExtensionSet) {
    EXPECT_EQ(AudioFilter(true).toStdString(),
              "All audio files (*.wma,*.mp3,*.wav)|*.wma;*.mp3;*.wav|Windows media audio "
              "(*.wma)|*.wma|MPEG 3 (*.mp3)|*.mp3|Wav (*.wav)|*.wav|");
    EXPECT_EQ(AudioFilter(false).toStdString(), "mp3, wma, wav");
}

struct TRingPixel {
    int X, Y, Alpha;
};

TEST(ColourSwatches, FourColoursWithFadingRings) {
    const std::vector<TBitmap32> swatches = ColourSwatches();
    ASSERT_EQ(swatches.size(), 4u);
    const TColor32 colours[] = {0xFFFF0000u, 0xFF007F00u, 0xFF0000FFu, 0xFF7F7F7Fu};
    const TRingPixel pixels[] = {
        {0, 0, 0},    {13, 13, 0}, {7, 0, 0},    {0, 9, 0},    {1, 1, 50},  {12, 6, 50},
        {5, 12, 50},  {2, 2, 100}, {11, 8, 100}, {2, 11, 100}, {3, 3, 250}, {10, 5, 250},
        {7, 10, 250}, {4, 4, 200}, {9, 9, 200},  {4, 6, 200},  {9, 5, 200}, {5, 5, 255},
        {8, 8, 255},  {5, 8, 255}, {6, 7, 255},  {13, 0, 0},   {1, 12, 50}, {12, 1, 50},
    };
    for (std::size_t i = 0; i < swatches.size(); ++i) {
        const TBitmap32& s = swatches[i];
        ASSERT_EQ(s.Width(), 14);
        ASSERT_EQ(s.Height(), 14);
        for (const TRingPixel& p : pixels) {
            EXPECT_EQ(s.Pixel(p.X, p.Y), WithAlpha(colours[i], p.Alpha))
                << "swatch " << i << " at " << p.X << ',' << p.Y;
        }
    }
}

TEST(ProgramFolder, IsTheFolderOfTheRunningProgram) {
    EXPECT_EQ(ProgramFolder(), QCoreApplication::applicationDirPath() + '/');
}

TEST(OpenUrl, InvalidAddressesAreRefused) {
    EXPECT_FALSE(OpenUrl(QString()));
    EXPECT_FALSE(OpenUrl("   "));
    EXPECT_FALSE(OpenUrl("no scheme here"));
    EXPECT_FALSE(OpenUrl("http://exa mple.com/"));
}

TEST(OpenUrl, HandsTheAddressToTheSchemesHandler) {
    QTextBrowser handler;
    QUrl received;
    QObject::connect(&handler, &QTextBrowser::sourceChanged,
                     [&](const QUrl& url) { received = url; });
    QDesktopServices::setUrlHandler("pictrel-test", &handler, "setSource");
    const bool opened = OpenUrl("pictrel-test://host/page?x=1");
    QDesktopServices::unsetUrlHandler("pictrel-test");
    EXPECT_TRUE(opened);
    EXPECT_EQ(received.toString().toStdString(), "pictrel-test://host/page?x=1");
}

} // namespace
