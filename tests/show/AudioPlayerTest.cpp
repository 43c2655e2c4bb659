#include "common/TestSupport.h"
#include "show/VekAudioPlayer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Generous: only a broken player ever waits this long.
constexpr int kDeadlineMs = 20000;

void WriteWav(const QString& path, double seconds) {
    ASSERT_TRUE(pictrel::test::WriteWav(path, seconds)) << path.toStdString();
}

void WriteText(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text);
}

class AudioPlayer : public testing::Test {
protected:
    void SetUp() override {
        qputenv("PICTREL_AUDIO_OUTPUT", "null");
        Watch(m_player);
    }

    // Records every event of `player` in Log, in order.
    void Watch(TVekAudioPlayer& player) {
        player.OnError = [this](TVekAudioPlayer&, const QString& e) {
            Errors.push_back(e);
            Log.push_back("error");
        };
        player.OnPlay = [this](TVekAudioPlayer&, int p) {
            Plays.push_back(p);
            Log.push_back("play " + std::to_string(p));
        };
        player.OnStartPlay = [this](TVekAudioPlayer&) { Log.push_back("start"); };
        player.OnEndPlay = [this](TVekAudioPlayer&) {
            ++Ends;
            Log.push_back("end");
        };
    }

    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kDeadlineMs); }
    std::string Errors0() const { return Errors.empty() ? "" : Errors[0].toStdString(); }

    QTemporaryDir m_dir;
    TVekAudioPlayer m_player;
    std::vector<QString> Errors;
    std::vector<int> Plays;
    std::vector<std::string> Log;
    int Ends = 0;
};

TEST_F(AudioPlayer, PlaysAWavToItsEndOnceAndStaysThere) {
    WriteWav(Path("tone.wav"), 0.4);
    m_player.Open(Path("tone.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    EXPECT_EQ(m_player.FileName(), Path("tone.wav"));
    EXPECT_EQ(m_player.Title(), "tone.wav");
    EXPECT_NEAR(m_player.Length(), 400, 30);
    EXPECT_EQ(Log, std::vector<std::string>{"play 0"});
    m_player.Play();
    EXPECT_TRUE(m_player.Playing());
    EXPECT_TRUE(m_player.PositionTimer.Enabled());
    ASSERT_TRUE(WaitFor([&] { return Ends > 0; }));
    EXPECT_FALSE(m_player.PositionTimer.Enabled()) << "polling stops at the end";
    // Polls after the end report nothing more.
    for (int i = 0; i < 3; ++i) m_player.PositionTimerTimer();
    EXPECT_EQ(Ends, 1);
    const auto end = std::find(Log.begin(), Log.end(), "end");
    ASSERT_NE(end, Log.begin());
    EXPECT_EQ(*(end - 1), "play 100") << "the end's poll reports 100 first";
    EXPECT_EQ(Log.back(), "play 100") << "and so do the polls after it";
    EXPECT_TRUE(std::is_sorted(Plays.begin(), Plays.end())) << "progress only grows";
    EXPECT_GE(m_player.GetPosition(), m_player.Length() - 30) << "kept at the end";
    EXPECT_TRUE(Errors.empty());
}

// Tracks that end before the first poll, or have no sound at all, still end once.
class AudioPlayerShortTrack : public AudioPlayer, public testing::WithParamInterface<int> {};

TEST_P(AudioPlayerShortTrack, EndsOnce) {
    WriteWav(Path("short.wav"), GetParam() / 1000.0);
    m_player.Open(Path("short.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    EXPECT_NEAR(m_player.Length(), GetParam(), 10);
    m_player.Play();
    ASSERT_TRUE(WaitFor([&] { return Ends > 0; }));
    for (int i = 0; i < 3; ++i) m_player.PositionTimerTimer();
    EXPECT_EQ(Ends, 1);
    EXPECT_EQ(std::count(Log.begin(), Log.end(), "end"), 1);
    EXPECT_TRUE(Errors.empty()) << Errors0();
}

INSTANTIATE_TEST_SUITE_P(AudioPlayer, AudioPlayerShortTrack, testing::Values(0, 20, 60),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "ms";
                         });

TEST_F(AudioPlayer, PauseKeepsThePlaceAndPlayGoesOnFromThere) {
    WriteWav(Path("long.wav"), 3);
    m_player.Open(Path("long.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    m_player.Play();
    ASSERT_TRUE(WaitFor([&] { return m_player.GetPosition() > 300; }));
    m_player.Pause();
    EXPECT_TRUE(m_player.Paused());
    EXPECT_FALSE(m_player.Playing());
    EXPECT_FALSE(m_player.PositionTimer.Enabled());
    const int paused = m_player.GetPosition();
    EXPECT_GT(paused, 0);
    m_player.Play();
    EXPECT_FALSE(m_player.Paused());
    EXPECT_GE(m_player.GetPosition(), paused) << "not back to the start";
    ASSERT_TRUE(WaitFor([&] { return m_player.GetPosition() > paused; })) << "plays on";
    EXPECT_EQ(Ends, 0);
}

TEST_F(AudioPlayer, StopGoesBackToTheStartAndSaysSo) {
    WriteWav(Path("long.wav"), 3);
    m_player.Open(Path("long.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    m_player.Play();
    ASSERT_TRUE(WaitFor([&] { return m_player.GetPosition() > 200; }));
    Log.clear();
    m_player.Stop();
    EXPECT_EQ(Log, std::vector<std::string>{"play 0"});
    EXPECT_FALSE(m_player.Playing());
    EXPECT_FALSE(m_player.Paused());
    EXPECT_FALSE(m_player.PositionTimer.Enabled());
    EXPECT_TRUE(m_player.Opened());
    ASSERT_TRUE(WaitFor([&] { return m_player.GetPosition() == 0; }));
    EXPECT_EQ(Ends, 0);
}

struct TPercentCase {
    int Given;
    int Reported;
};

class AudioPlayerPercent : public AudioPlayer, public testing::WithParamInterface<TPercentCase> {};

TEST_P(AudioPlayerPercent, IsHeldAndSeeksThere) {
    WriteWav(Path("long.wav"), 2);
    m_player.Open(Path("long.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    m_player.SetPositionPercent(GetParam().Given);
    EXPECT_EQ(Plays.back(), GetParam().Reported);
    const int target = m_player.Length() * GetParam().Reported / 100;
    ASSERT_TRUE(WaitFor([&] { return std::abs(m_player.GetPosition() - target) <= 30; }))
        << m_player.GetPosition() << " for " << target;
    EXPECT_FALSE(m_player.Playing()) << "a stopped player stays stopped";
    EXPECT_EQ(Ends, 0);
}

INSTANTIATE_TEST_SUITE_P(AudioPlayer, AudioPlayerPercent,
                         testing::Values(TPercentCase{150, 100}, TPercentCase{100, 100},
                                         TPercentCase{50, 50}, TPercentCase{-20, 0}),
                         [](const testing::TestParamInfo<TPercentCase>& info) {
                             const int given = info.param.Given;
                             return (given < 0 ? "minus" + std::to_string(-given)
                                               : std::to_string(given));
                         });

TEST_F(AudioPlayer, SeekingToTheEndWhilePlayingEndsTheTrack) {
    WriteWav(Path("long.wav"), 3);
    m_player.Open(Path("long.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    m_player.Play();
    m_player.SetPositionPercent(150);
    EXPECT_TRUE(m_player.Playing());
    ASSERT_TRUE(WaitFor([&] { return Ends > 0; }));
    m_player.PositionTimerTimer();
    EXPECT_EQ(Ends, 1);
}

TEST_F(AudioPlayer, TheNextTrackOpenedAtTheEndPlaysAndEndsToo) {
    WriteWav(Path("one.wav"), 0.3);
    WriteWav(Path("two.wav"), 0.2);
    m_player.OnEndPlay = [this](TVekAudioPlayer& player) {
        ++Ends;
        if (player.Title() == "one.wav") {
            player.Open(Path("two.wav"));
            player.Play();
        }
    };
    m_player.Open(Path("one.wav"));
    m_player.Play();
    ASSERT_TRUE(WaitFor([&] { return Ends == 2; }));
    for (int i = 0; i < 3; ++i) m_player.PositionTimerTimer();
    EXPECT_EQ(Ends, 2);
    EXPECT_EQ(m_player.Title(), "two.wav");
    EXPECT_TRUE(Errors.empty()) << Errors0();
}

// Every operation of a player whose file could not be opened does nothing.
void ExpectClosedNoOps(TVekAudioPlayer& player, const std::vector<std::string>& log) {
    const std::vector<std::string> before = log;
    player.Play();
    player.Pause();
    player.Stop();
    player.Seek(1000);
    player.SetPositionPercent(50);
    player.PositionTimerTimer();
    EXPECT_EQ(log, before) << "no events";
    EXPECT_FALSE(player.Opened());
    EXPECT_FALSE(player.Playing());
    EXPECT_FALSE(player.Paused());
    EXPECT_FALSE(player.PositionTimer.Enabled());
    EXPECT_EQ(player.Length(), 0);
    EXPECT_EQ(player.GetLength(), 0);
    EXPECT_EQ(player.GetPosition(), 0);
    EXPECT_EQ(player.FormatTime(1000), "");
}

class AudioPlayerBadFile : public AudioPlayer, public testing::WithParamInterface<const char*> {};

TEST_P(AudioPlayerBadFile, IsReportedOnceAndLeavesThePlayerClosed) {
    WriteText(Path("song.mp3"), "this is no music at all\n");
    WriteText(Path("cut.wav"), QByteArray("RIFF\x24\0\0\0WAVE", 12));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder.wav")));
    // A track that played before is closed by the failed open.
    WriteWav(Path("good.wav"), 0.2);
    m_player.Open(Path("good.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    Log.clear();

    const QString name = QString::fromLatin1(GetParam());
    m_player.Open(Path(GetParam()));
    EXPECT_EQ(Log, std::vector<std::string>{"error"});
    ASSERT_EQ(Errors.size(), 1U);
    EXPECT_TRUE(Errors[0].startsWith("Can't open " + name + ": ")) << Errors0();
    EXPECT_GT(Errors[0].size(), QString("Can't open " + name + ": ").size()) << "with a reason";
    EXPECT_EQ(m_player.Title(), name);
    ExpectClosedNoOps(m_player, Log);
}

INSTANTIATE_TEST_SUITE_P(AudioPlayer, AudioPlayerBadFile,
                         testing::Values("song.mp3", "cut.wav", "missing.wav", "folder.wav"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// OpenAsync gives the same outcome as Open without waiting for it: `done` follows the
// event that says it, a newer open drops the older one's, and a file refused before
// the media library is asked answers at once.
TEST_F(AudioPlayer, OpenAsyncAnswersAfterTheEventThatSaysIt) {
    WriteWav(Path("good.wav"), 0.3);
    WriteText(Path("song.mp3"), "this is no music at all\n");
    struct TCase {
        const char* File;
        bool Opened;
        const char* Event;
    };
    for (const TCase c : {TCase{"good.wav", true, "play 0"}, TCase{"song.mp3", false, "error"},
                          TCase{"missing.wav", false, "error"}}) {
        Log.clear();
        std::optional<bool> answer;
        m_player.OpenAsync(Path(c.File), [&](bool opened) {
            answer = opened;
            Log.push_back("done");
        });
        ASSERT_TRUE(WaitFor([&] { return answer.has_value(); })) << c.File;
        EXPECT_EQ(*answer, c.Opened) << c.File << " " << Errors0();
        EXPECT_EQ(m_player.Opened(), c.Opened) << c.File;
        EXPECT_EQ(Log, (std::vector<std::string>{c.Event, "done"})) << c.File;
        EXPECT_FALSE(m_player.Opening());
    }

    int answers = 0;
    m_player.OpenAsync(Path("song.mp3"), [&](bool) { ++answers; });
    m_player.OpenAsync(Path("good.wav"), [&](bool opened) { answers += opened ? 10 : 100; });
    ASSERT_TRUE(WaitFor([&] { return !m_player.Opening(); }));
    EXPECT_EQ(answers, 10) << "only the newer open answers";
    m_player.OpenAsync(Path("good.wav"), [&](bool) { ++answers; });
    m_player.Close();
    EXPECT_FALSE(m_player.Opening()) << "a closed player waits for no answer";
    QCoreApplication::processEvents();
    EXPECT_EQ(answers, 10);
}

TEST_F(AudioPlayer, NothingOpenDoesNothing) {
    ExpectClosedNoOps(m_player, Log);
    m_player.Close();
    EXPECT_TRUE(Log.empty());
}

TEST_F(AudioPlayer, CloseEndsPlayback) {
    WriteWav(Path("long.wav"), 3);
    m_player.Open(Path("long.wav"));
    m_player.Play();
    ASSERT_TRUE(m_player.Playing());
    m_player.Close();
    ExpectClosedNoOps(m_player, Log);
    EXPECT_EQ(Ends, 0);
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
    ASSERT_EQ(encoder.exitCode(), 0);
    m_player.Open(Path("tone.mp3"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    // Encoders pad the track with silence.
    EXPECT_GE(m_player.Length(), 450);
    EXPECT_LE(m_player.Length(), 1000);
    m_player.Play();
    ASSERT_TRUE(WaitFor([&] { return Ends > 0; }));
    m_player.PositionTimerTimer();
    EXPECT_EQ(Ends, 1);
}

TEST_F(AudioPlayer, VolumeIsTheirOwnAndHeldToAPercentage) {
    const std::pair<int, int> cases[] = {{-5, 0}, {50, 50}, {150, 100}, {100, 100}, {0, 0}};
    for (const auto& [given, kept] : cases) {
        m_player.SetVolume(given);
        EXPECT_EQ(m_player.GetVolume(), kept) << given;
    }
    WriteWav(Path("tone.wav"), 0.2);
    m_player.SetVolume(30);
    m_player.Open(Path("tone.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    EXPECT_EQ(m_player.GetVolume(), 30) << "kept when the media library starts";
    for (const auto& [given, kept] : cases) {
        m_player.SetVolume(given);
        EXPECT_EQ(m_player.GetVolume(), kept) << given << " while open";
    }
    TVekAudioPlayer other;
    EXPECT_EQ(other.GetVolume(), 100) << "not shared between players";
}

TEST_F(AudioPlayer, TimesAreMinutesAndSecondsWithHoursWhenThereAreAny) {
    WriteWav(Path("tone.wav"), 1.2);
    m_player.Open(Path("tone.wav"));
    ASSERT_TRUE(m_player.Opened()) << Errors0();
    const std::pair<int, const char*> cases[] = {
        {0, "00:00"},           {999, "00:00"},     {65000, "01:05"},     {599999, "09:59"},
        {600000, "10:00"},      {3599999, "59:59"}, {3600000, "1:00:00"}, {3725000, "1:02:05"},
        {36000000, "10:00:00"}, {-1, "00:01"},      {-3725000, "00:01"},
    };
    for (const auto& [ms, text] : cases) EXPECT_EQ(m_player.FormatTime(ms), text) << ms;
    m_player.Close();
    EXPECT_EQ(m_player.FormatTime(0), "");
    EXPECT_EQ(m_player.FormatTime(-1), "");
}

TEST_F(AudioPlayer, OpensUnderALocaleWithADecimalComma) {
    // The toolkit leaves the user's locale for numbers, which the media library refuses
    // to start under.
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr &&
            std::string(std::localeconv()->decimal_point) == ",") {
            comma = true;
            break;
        }
    if (!comma) {
        std::setlocale(LC_NUMERIC, saved.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    WriteWav(Path("tone.wav"), 0.2);
    TVekAudioPlayer player;
    Watch(player);
    player.Open(Path("tone.wav"));
    const bool opened = player.Opened();
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_TRUE(opened) << Errors0();
}

TEST_F(AudioPlayer, CanBeDestroyedWhilePlaying) {
    WriteWav(Path("long.wav"), 3);
    auto player = std::make_unique<TVekAudioPlayer>();
    Watch(*player);
    player->Open(Path("long.wav"));
    ASSERT_TRUE(player->Opened()) << Errors0();
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->GetPosition() > 100 && Plays.size() > 1; }));
    player.reset();
    const std::vector<std::string> before = Log;
    QCoreApplication::processEvents();
    EXPECT_EQ(Log, before) << "no event after destruction";
}

} // namespace
