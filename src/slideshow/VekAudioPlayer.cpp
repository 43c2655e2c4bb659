#include "slideshow/VekAudioPlayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <mpv/client.h>

#include <algorithm>
#include <clocale>
#include <cmath>

namespace {

constexpr int kPollMs = 100;
// How long Open waits for the media library to accept or refuse a file.
constexpr int kOpenWaitMs = 3000;

} // namespace

TVekAudioPlayer::TVekAudioPlayer() {
    PositionTimer.SetInterval(kPollMs);
    PositionTimer.SetEnabled(false);
    PositionTimer.OnTimer = [this](TThreadedTimer&) { PositionTimerTimer(); };
}

TVekAudioPlayer::~TVekAudioPlayer() {
    PositionTimer.SetEnabled(false);
    if (m_mpv != nullptr) mpv_terminate_destroy(m_mpv);
}

bool TVekAudioPlayer::EnsureHandle() {
    if (m_mpv != nullptr) return true;
    // The media library parses numbers in the "C" locale only and refuses to start
    // otherwise; the toolkit may have set the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* mpv = mpv_create();
    if (mpv == nullptr) return false;
    const QByteArray output = qgetenv("PICTREL_AUDIO_OUTPUT");
    const std::pair<const char*, const char*> options[] = {
        {"config", "no"},
        {"terminal", "no"},
        {"input-default-bindings", "no"},
        {"input-vo-keyboard", "no"},
        {"osc", "no"},
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"vid", "no"},
        {"video", "no"},
        {"vo", "null"},
        {"audio-display", "no"},
        {"idle", "yes"},
        {"keep-open", "yes"},
        {"pause", "yes"},
        {"volume-max", "100"},
    };
    for (const auto& [name, value] : options) mpv_set_option_string(mpv, name, value);
    if (!output.isEmpty()) mpv_set_option_string(mpv, "ao", output.constData());
    if (mpv_initialize(mpv) < 0) {
        mpv_terminate_destroy(mpv);
        return false;
    }
    m_mpv = mpv;
    double volume = m_volume;
    mpv_set_property(m_mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
    return true;
}

void TVekAudioPlayer::DrainEvents() {
    if (m_mpv == nullptr) return;
    while (mpv_wait_event(m_mpv, 0)->event_id != MPV_EVENT_NONE) {
    }
}

void TVekAudioPlayer::Command(std::initializer_list<const char*> args) const {
    if (m_mpv == nullptr) return;
    std::vector<const char*> argv(args);
    argv.push_back(nullptr);
    mpv_command(m_mpv, argv.data());
}

void TVekAudioPlayer::SetPause(bool pause) const {
    if (m_mpv == nullptr) return;
    int flag = pause ? 1 : 0;
    mpv_set_property(m_mpv, "pause", MPV_FORMAT_FLAG, &flag);
}

double TVekAudioPlayer::Seconds(const char* property) const {
    double value = 0;
    if (m_mpv == nullptr || mpv_get_property(m_mpv, property, MPV_FORMAT_DOUBLE, &value) < 0)
        return 0;
    return std::isfinite(value) ? value : 0;
}

bool TVekAudioPlayer::AtEnd() const {
    if (!m_opened) return false;
    int eof = 0;
    if (mpv_get_property(m_mpv, "eof-reached", MPV_FORMAT_FLAG, &eof) >= 0 && eof != 0) return true;
    return GetPosition() >= m_length;
}

void TVekAudioPlayer::Fail(const QString& reason) {
    if (m_mpv != nullptr) Command({"stop"});
    if (OnError) OnError(*this, QStringLiteral("Can't play %1: %2").arg(m_title, reason));
}

void TVekAudioPlayer::Open(const QString& path) {
    PositionTimer.SetEnabled(false);
    m_length = 0;
    m_playing = m_paused = false;
    m_endReported = false;
    m_fileName = path;
    m_title = QFileInfo(path).fileName();
    if (m_opened) Close();
    const QFileInfo info(path);
    if (!info.isFile()) {
        Fail(info.exists() ? QStringLiteral("not a file") : QStringLiteral("file not found"));
        return;
    }
    if (!EnsureHandle()) {
        Fail(QStringLiteral("no audio player could be started"));
        return;
    }
    DrainEvents();
    SetPause(true);
    // An absolute path: never taken for a web address or an option.
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    Command({"loadfile", file.constData(), "replace"});

    QElapsedTimer waited;
    waited.start();
    bool started = false;
    while (waited.elapsed() < kOpenWaitMs) {
        const double left = double(kOpenWaitMs - waited.elapsed()) / 1000.0;
        const mpv_event* event = mpv_wait_event(m_mpv, std::max(left, 0.0));
        if (event->event_id == MPV_EVENT_NONE) continue;
        if (event->event_id == MPV_EVENT_START_FILE) {
            started = true;
        } else if (started && event->event_id == MPV_EVENT_FILE_LOADED) {
            m_opened = true;
            m_length = GetLength();
            Seek(0);
            if (OnPlay) OnPlay(*this, 0);
            return;
        } else if (started && event->event_id == MPV_EVENT_END_FILE) {
            const auto* end = static_cast<const mpv_event_end_file*>(event->data);
            Fail(end != nullptr && end->reason == MPV_END_FILE_REASON_ERROR
                     ? QString::fromUtf8(mpv_error_string(end->error))
                     : QStringLiteral("not a sound file"));
            return;
        }
    }
    Fail(QStringLiteral("the file took too long to open"));
}

void TVekAudioPlayer::Close() {
    if (m_opened) {
        Command({"stop"});
        DrainEvents();
    }
    m_opened = m_playing = m_paused = false;
    m_length = 0;
    PositionTimer.SetEnabled(false);
}

void TVekAudioPlayer::Play() {
    if (!m_opened) return;
    m_playing = true;
    m_paused = false;
    PositionTimer.SetEnabled(true);
    SetPause(false);
}

void TVekAudioPlayer::Pause() {
    if (!m_opened) return;
    m_playing = false;
    m_paused = true;
    PositionTimer.SetEnabled(false);
    SetPause(true);
}

void TVekAudioPlayer::Stop() {
    if (!m_opened) return;
    m_playing = m_paused = false;
    PositionTimer.SetEnabled(false);
    SetPause(true);
    Seek(0);
    if (OnPlay) OnPlay(*this, 0);
}

void TVekAudioPlayer::Seek(int position) {
    if (!m_opened) return;
    const QByteArray seconds = QByteArray::number(std::max(0, position) / 1000.0, 'f', 3);
    Command({"seek", seconds.constData(), "absolute+exact"});
    m_endReported = false;
    if (m_playing) Play();
}

void TVekAudioPlayer::SetPositionPercent(int percent) {
    if (!m_opened) return;
    percent = std::clamp(percent, 0, 100);
    Seek(int(std::lround(percent / 100.0 * m_length)));
    if (OnPlay) OnPlay(*this, percent);
}

int TVekAudioPlayer::GetLength() const {
    return m_opened ? int(std::lround(Seconds("duration") * 1000)) : 0;
}

int TVekAudioPlayer::GetPosition() const {
    // The media library reports a little below 0 right after a seek to the start while
    // the output's buffer refills.
    return m_opened ? std::max(0, int(std::lround(Seconds("time-pos") * 1000))) : 0;
}

void TVekAudioPlayer::SetVolume(int percent) {
    m_volume = std::clamp(percent, 0, 100);
    if (m_mpv == nullptr) return;
    double volume = m_volume;
    mpv_set_property(m_mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
}

int TVekAudioPlayer::GetVolume() const {
    if (m_mpv == nullptr) return m_volume;
    double volume = m_volume;
    mpv_get_property(m_mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
    return std::clamp(int(std::lround(volume)), 0, 100);
}

QString TVekAudioPlayer::FormatTime(int ms) const {
    if (!m_opened) return {};
    if (ms < 0) ms = m_length;
    const int h = ms / 3600000;
    const int m = ms % 3600000 / 60000;
    const int s = ms % 3600000 % 60000 / 1000;
    QString text;
    if (h > 0) text = QString::number(h) + u':';
    return text + QStringLiteral("%1:%2").arg(m, 2, 10, QChar(u'0')).arg(s, 2, 10, QChar(u'0'));
}

void TVekAudioPlayer::PositionTimerTimer() {
    DrainEvents();
    if (!m_opened) {
        PositionTimer.SetEnabled(false);
        return;
    }
    if (OnPlay) {
        const int percent =
            m_length > 0 ? int(std::lround(double(GetPosition()) / m_length * 100)) : 0;
        OnPlay(*this, std::clamp(percent, 0, 100));
    }
    if (AtEnd()) {
        PositionTimer.SetEnabled(false);
        if (!m_endReported) {
            m_endReported = true;
            // The owner may open the next track from here.
            if (OnEndPlay) OnEndPlay(*this);
        }
        return;
    }
    if (GetPosition() <= 0 && OnStartPlay) OnStartPlay(*this);
}
