#include "show/VekAudioPlayer.h"

#include <QFile>
#include <QFileInfo>

#include "show/MpvLibrary.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <utility>
#include <vector>

namespace {

constexpr int kPollMs = 100;
// How long Open waits for the media library to accept or refuse a file: long enough
// for a slow disk, short enough that the GUI thread never seems to hang.
constexpr int kOpenWaitMs = 2000;
// How often OpenAsync looks for the media library's answer.
constexpr int kOpenPollMs = 10;

// Round half to even (the default floating-point rounding mode), as everywhere else in
// the program.
int Round(double value) {
    return int(std::clamp(std::nearbyint(value), -2147483648.0, 2147483647.0));
}

// Only called while a player handle exists, so the library is loaded.
const TMpvLibrary& Mpv() {
    return *MpvLibrary();
}

} // namespace

TVekAudioPlayer::TVekAudioPlayer() {
    PositionTimer.SetInterval(kPollMs);
    PositionTimer.SetEnabled(false);
    PositionTimer.OnTimer = [this](TThreadedTimer&) { PositionTimerTimer(); };
    m_openTimer.setInterval(kOpenPollMs);
    QObject::connect(&m_openTimer, &QTimer::timeout, [this] { PollOpen(); });
}

TVekAudioPlayer::~TVekAudioPlayer() {
    CancelOpen();
    PositionTimer.SetEnabled(false);
    if (m_mpv != nullptr) Mpv().TerminateDestroy(m_mpv);
}

bool TVekAudioPlayer::EnsureHandle() {
    if (m_mpv != nullptr) return true;
    // The media library parses numbers in the "C" locale only and refuses to start
    // otherwise; the toolkit sets the user's locale when the application starts.
    if (MpvLibrary() == nullptr) return false;
    std::setlocale(LC_NUMERIC, "C");
    mpv_handle* mpv = Mpv().Create();
    if (mpv == nullptr) return false;
    const QByteArray output = qgetenv("PICTREL_AUDIO_OUTPUT");
    // Sound only: no window, no terminal, no user configuration, keys or scripts. The
    // track stays loaded at its end (paused there), so the poll sees the end and the
    // position stays at the length.
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
    for (const auto& [name, value] : options) Mpv().SetOptionString(mpv, name, value);
    if (!output.isEmpty()) Mpv().SetOptionString(mpv, "ao", output.constData());
    if (Mpv().Initialize(mpv) < 0) {
        Mpv().TerminateDestroy(mpv);
        return false;
    }
    m_mpv = mpv;
    double volume = m_volume;
    Mpv().SetProperty(m_mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
    return true;
}

void TVekAudioPlayer::DrainEvents() {
    if (m_mpv == nullptr) return;
    for (;;) {
        const mpv_event* event = Mpv().WaitEvent(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE) return;
        if (event->event_id != MPV_EVENT_END_FILE || event->data == nullptr) continue;
        const auto* end = static_cast<const mpv_event_end_file*>(event->data);
        if (m_entryId != 0 && end->playlist_entry_id == m_entryId) m_unloaded = true;
    }
}

void TVekAudioPlayer::Command(std::initializer_list<const char*> args) const {
    if (m_mpv == nullptr) return;
    std::vector<const char*> argv(args);
    argv.push_back(nullptr);
    Mpv().Command(m_mpv, argv.data());
}

void TVekAudioPlayer::SetPause(bool pause) const {
    if (m_mpv == nullptr) return;
    int flag = pause ? 1 : 0;
    Mpv().SetProperty(m_mpv, "pause", MPV_FORMAT_FLAG, &flag);
}

double TVekAudioPlayer::Seconds(const char* property) const {
    double value = 0;
    if (m_mpv == nullptr || Mpv().GetProperty(m_mpv, property, MPV_FORMAT_DOUBLE, &value) < 0)
        return 0;
    return std::isfinite(value) ? value : 0;
}

bool TVekAudioPlayer::AtEnd() const {
    if (!m_opened) return false;
    if (m_unloaded) return true;
    int eof = 0;
    if (Mpv().GetProperty(m_mpv, "eof-reached", MPV_FORMAT_FLAG, &eof) >= 0 && eof != 0)
        return true;
    // A length the library could not tell (0) is left to its end-of-file flag: the
    // track would otherwise end before it began. An empty track has that flag at once.
    return m_length > 0 && GetPosition() >= m_length;
}

void TVekAudioPlayer::Fail(const QString& reason) {
    if (m_mpv != nullptr) Command({"stop"});
    m_entryId = 0;
    if (OnError) OnError(*this, QStringLiteral("Can't open %1: %2").arg(m_title, reason));
}

bool TVekAudioPlayer::StartOpen(const QString& path) {
    CancelOpen();
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
        return false;
    }
    if (!EnsureHandle()) {
        Fail(MpvLibrary() == nullptr ? MpvLibraryError()
                                     : QStringLiteral("no audio player could be started"));
        return false;
    }
    m_entryId = 0;
    m_unloaded = false;
    DrainEvents();
    SetPause(true);
    // An absolute path: never taken for a web address or an option.
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    Command({"loadfile", file.constData(), "replace"});
    m_openingEntry = 0;
    m_openingSince.start();
    return true;
}

TVekAudioPlayer::TOpening TVekAudioPlayer::TakeOpenEvents(double waitSeconds) {
    // The library answers on its own thread: the track starts (and gets its entry),
    // then is either loaded or ended with the reason. Events of a track closed before
    // come first and are passed over.
    for (;;) {
        const mpv_event* event = Mpv().WaitEvent(m_mpv, waitSeconds);
        waitSeconds = 0;
        if (event->event_id == MPV_EVENT_NONE) return TOpening::opPending;
        const std::int64_t entry = m_openingEntry;
        if (event->event_id == MPV_EVENT_START_FILE && event->data != nullptr) {
            m_openingEntry =
                static_cast<const mpv_event_start_file*>(event->data)->playlist_entry_id;
        } else if (entry != 0 && event->event_id == MPV_EVENT_FILE_LOADED) {
            m_entryId = entry;
            m_opened = true;
            m_length = GetLength();
            Seek(0);
            if (OnPlay) OnPlay(*this, 0);
            return TOpening::opOpened;
        } else if (entry != 0 && event->event_id == MPV_EVENT_END_FILE && event->data != nullptr) {
            const auto* end = static_cast<const mpv_event_end_file*>(event->data);
            if (end->playlist_entry_id != entry) continue;
            Fail(end->reason == MPV_END_FILE_REASON_ERROR
                     ? QString::fromUtf8(Mpv().ErrorString(end->error))
                     : QStringLiteral("not a sound file"));
            return TOpening::opFailed;
        }
    }
}

void TVekAudioPlayer::Open(const QString& path) {
    if (!StartOpen(path)) return;
    for (qint64 left = kOpenWaitMs; left > 0; left = kOpenWaitMs - m_openingSince.elapsed())
        if (TakeOpenEvents(double(left) / 1000.0) != TOpening::opPending) return;
    Fail(QStringLiteral("the file took too long to open"));
}

void TVekAudioPlayer::OpenAsync(const QString& path, std::function<void(bool opened)> done) {
    if (!StartOpen(path)) {
        if (done) done(false);
        return;
    }
    m_openDone = std::move(done);
    m_openTimer.start();
}

void TVekAudioPlayer::PollOpen() {
    TOpening opening = TakeOpenEvents(0);
    if (opening == TOpening::opPending) {
        if (m_openingSince.elapsed() < kOpenWaitMs) return;
        Fail(QStringLiteral("the file took too long to open"));
        opening = TOpening::opFailed;
    }
    m_openTimer.stop();
    const std::function<void(bool)> done = std::exchange(m_openDone, {});
    if (done) done(opening == TOpening::opOpened);
}

void TVekAudioPlayer::CancelOpen() {
    m_openTimer.stop();
    m_openDone = nullptr;
}

void TVekAudioPlayer::Close() {
    CancelOpen();
    if (m_opened) {
        Command({"stop"});
        DrainEvents();
    }
    m_opened = m_playing = m_paused = false;
    m_length = 0;
    m_entryId = 0;
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
    // Played on from elsewhere, the track may end once more.
    m_endReported = false;
    if (m_playing) Play();
}

void TVekAudioPlayer::SetPositionPercent(int percent) {
    if (!m_opened) return;
    percent = std::clamp(percent, 0, 100);
    Seek(Round(percent / 100.0 * m_length));
    if (OnPlay) OnPlay(*this, percent);
}

int TVekAudioPlayer::GetLength() const {
    return m_opened ? std::max(0, Round(Seconds("duration") * 1000)) : 0;
}

int TVekAudioPlayer::GetPosition() const {
    // The media library reports a little below 0 right after a seek to the start while
    // the output's buffer refills.
    return m_opened ? std::max(0, Round(Seconds("time-pos") * 1000)) : 0;
}

void TVekAudioPlayer::SetVolume(int percent) {
    m_volume = std::clamp(percent, 0, 100);
    if (m_mpv == nullptr) return;
    double volume = m_volume;
    Mpv().SetProperty(m_mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
}

int TVekAudioPlayer::GetVolume() const {
    if (m_mpv == nullptr) return m_volume;
    double volume = m_volume;
    Mpv().GetProperty(m_mpv, "volume", MPV_FORMAT_DOUBLE, &volume);
    return std::clamp(Round(volume), 0, 100);
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
        const int percent = m_length > 0 ? Round(double(GetPosition()) / m_length * 100) : 0;
        OnPlay(*this, std::clamp(percent, 0, 100));
        // Its owner may have closed the player meanwhile.
        if (!m_opened) return;
    }
    if (AtEnd()) {
        PositionTimer.SetEnabled(false);
        if (!m_endReported) {
            m_endReported = true;
            // The owner may open the next track from here: nothing below may touch the
            // player.
            if (OnEndPlay) OnEndPlay(*this);
        }
        return;
    }
    if (GetPosition() <= 0 && OnStartPlay) OnStartPlay(*this);
}
