#include "common/TestSupport.h"
#include "slideshow/VekAudioPlayer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void WriteWav(const QString& path, double seconds) {
    ASSERT_TRUE(pictrel::test::WriteWav(path, seconds)) << path.toStdString();
}

class AudioPlayer : public testing::Test {
protected:
    void SetUp() override {
        qputenv("PICTREL_AUDIO_OUTPUT", "null");
        m_player.OnError = [this](TVekAudioPlayer&, const QString& e) { Errors.push_back(e); };
        m_player.OnPlay = [this](TVekAudioPlayer&, int p) { Plays.push_back(p); };
        m_player.OnEndPlay = [this](TVekAudioPlayer&) { ++Ends; };
    }
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    TVekAudioPlayer m_player;
    std::vector<QString> Errors;
    std::vector<int> Plays;
    int Ends = 0;
};

TEST_F(AudioPlayer, PlaysAWavToItsEndOnce) {
    WriteWav(Path("tone.wav"), 0.4);
    m_player.Open(Path("tone.wav"));
    ASSERT_TRUE(m_player.Opened()) << (Errors.empty() ? "" : Errors[0].toStdString());
    EXPECT_EQ(m_player.Title(), "tone.wav");
    EXPECT_NEAR(m_player.Length(), 400, 30);
    EXPECT_EQ(Plays, std::vector<int>{0});
    m_player.Play();
    EXPECT_TRUE(m_player.Playing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Ends > 0; }, 20000));
    // Polls after the end report nothing more.
    for (int i = 0; i < 3; ++i) m_player.PositionTimerTimer();
    EXPECT_EQ(Ends, 1);
    EXPECT_EQ(Plays.back(), 100);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(AudioPlayer, PauseKeepsThePlaceAndStopGoesBackToTheStart) {
    WriteWav(Path("long.wav"), 3);
    m_player.Open(Path("long.wav"));
    ASSERT_TRUE(m_player.Opened());
    m_player.SetPositionPercent(50);
    EXPECT_EQ(Plays.back(), 50);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_player.GetPosition() > 1000; }, 20000));
    m_player.Pause();
    EXPECT_TRUE(m_player.Paused());
    const int paused = m_player.GetPosition();
    m_player.Play();
    EXPECT_GE(m_player.GetPosition(), paused) << "resumes where it paused";
    m_player.Stop();
    EXPECT_FALSE(m_player.Playing());
    EXPECT_EQ(Plays.back(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_player.GetPosition() == 0; }, 20000));
    m_player.SetPositionPercent(150);
    EXPECT_EQ(Plays.back(), 100) << "held to the end";
    EXPECT_EQ(Ends, 0);
}

TEST_F(AudioPlayer, FilesThatCannotPlayAreReportedOnceAndLeaveThePlayerClosed) {
    QFile text(Path("song.mp3"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is no music at all\n");
    text.close();
    for (const char* name : {"song.mp3", "missing.wav"}) {
        Errors.clear();
        m_player.Open(Path(name));
        EXPECT_FALSE(m_player.Opened()) << name;
        ASSERT_EQ(Errors.size(), 1U) << name;
        EXPECT_TRUE(Errors[0].contains(QString::fromLatin1(name))) << Errors[0].toStdString();
        m_player.Play();
        EXPECT_FALSE(m_player.Playing()) << name << ": every call is a no-op";
        EXPECT_EQ(m_player.GetLength(), 0);
        EXPECT_EQ(m_player.FormatTime(1000), "");
    }
}

TEST_F(AudioPlayer, AnEmptyTrackEndsAtOnce) {
    WriteWav(Path("empty.wav"), 0);
    m_player.Open(Path("empty.wav"));
    if (!m_player.Opened()) {
        // Refused as no sound at all: reported, and nothing plays.
        EXPECT_EQ(Errors.size(), 1U);
        return;
    }
    m_player.Play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Ends > 0; }, 20000));
    m_player.PositionTimerTimer();
    EXPECT_EQ(Ends, 1);
}

TEST_F(AudioPlayer, AnMp3PlaysWhenAnEncoderIsThere) {
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    const QString lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
    if (ffmpeg.isEmpty() && lame.isEmpty()) GTEST_SKIP() << "no MP3 encoder (ffmpeg, lame) here";
    WriteWav(Path("tone.wav"), 0.5);
    QProcess encoder;
    if (!lame.isEmpty())
        encoder.start(lame, {QStringLiteral("--quiet"), Path("tone.wav"), Path("tone.mp3")});
    else
        encoder.start(ffmpeg, {QStringLiteral("-loglevel"), QStringLiteral("error"),
                               QStringLiteral("-i"), Path("tone.wav"), Path("tone.mp3")});
    ASSERT_TRUE(encoder.waitForFinished(60000));
    m_player.Open(Path("tone.mp3"));
    ASSERT_TRUE(m_player.Opened());
    m_player.Play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Ends > 0; }, 20000));
    EXPECT_EQ(Ends, 1);
}

TEST_F(AudioPlayer, VolumeIsHeldToAPercentage) {
    const std::pair<int, int> cases[] = {{-5, 0}, {50, 50}, {150, 100}, {0, 0}};
    for (const auto& [given, kept] : cases) {
        m_player.SetVolume(given);
        EXPECT_EQ(m_player.GetVolume(), kept) << given;
    }
    WriteWav(Path("tone.wav"), 0.2);
    m_player.SetVolume(30);
    m_player.Open(Path("tone.wav"));
    EXPECT_EQ(m_player.GetVolume(), 30) << "kept when the library starts";
}

TEST_F(AudioPlayer, TimesAreMinutesAndSecondsWithHoursWhenThereAreAny) {
    WriteWav(Path("tone.wav"), 1.2);
    m_player.Open(Path("tone.wav"));
    ASSERT_TRUE(m_player.Opened());
    const std::pair<int, const char*> cases[] = {
        {0, "00:00"}, {65000, "01:05"}, {3725000, "1:02:05"}, {599999, "09:59"}, {-1, "00:01"}};
    for (const auto& [ms, text] : cases) EXPECT_EQ(m_player.FormatTime(ms), text) << ms;
    m_player.Close();
    EXPECT_EQ(m_player.FormatTime(0), "");
}

} // namespace
