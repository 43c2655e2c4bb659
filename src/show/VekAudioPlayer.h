#pragma once

#include "app/ThreadedTimer.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <initializer_list>

struct mpv_handle;

// Plays one music file at a time (mp3, wma, wav and whatever else the media library
// reads) and reports its progress by polling every 100 ms while it plays. Playlists
// (order, shuffle, repeat) belong to its owners.
//
// The media library's handle is made on the first Open, so a window that never plays
// music never pays for it. Its audio output is the system's default, or the one named
// by the PICTREL_AUDIO_OUTPUT environment variable ("null" plays silently, for tests).
// The volume is the player's own, not the system's.
//
// GUI thread only: the calls, the polls and the events.
class TVekAudioPlayer {
public:
    using TErrorEvent = std::function<void(TVekAudioPlayer& Sender, const QString& Error)>;
    using TPlayEvent = std::function<void(TVekAudioPlayer& Sender, int Percent)>;
    using TNotifyEvent = std::function<void(TVekAudioPlayer& Sender)>;

    TVekAudioPlayer();
    ~TVekAudioPlayer();
    TVekAudioPlayer(const TVekAudioPlayer&) = delete;
    TVekAudioPlayer& operator=(const TVekAudioPlayer&) = delete;

    // Opens `path`, stopped at its start (OnPlay with 0). A file that cannot be played
    // leaves the player closed and fires OnError with the reason. Waits at most a couple
    // of seconds for the media library to look at the file.
    void Open(const QString& path);
    // The same without waiting: the media library's answer is polled, and `done` is
    // called with whether the file opened (after OnPlay or OnError). Another Open,
    // OpenAsync or Close drops a pending `done`.
    void OpenAsync(const QString& path, std::function<void(bool opened)> done);
    // An OpenAsync is waiting for the media library.
    [[nodiscard]] bool Opening() const { return m_openTimer.isActive(); }
    void Close();
    // Plays on from the current position.
    void Play();
    void Pause();
    // Back to the start, stopped (OnPlay with 0).
    void Stop();
    // To `position` milliseconds; playing goes on when it was playing.
    void Seek(int position);
    // To `percent` of the length (held to 0 ... 100); OnPlay with the percentage.
    void SetPositionPercent(int percent);
    // Length and position in milliseconds; 0 when nothing is open.
    [[nodiscard]] int GetLength() const;
    [[nodiscard]] int GetPosition() const;
    // The player's volume in percent, held to 0 ... 100.
    void SetVolume(int percent);
    [[nodiscard]] int GetVolume() const;
    // "m:ss"-like text of `ms` ("01:05", "1:02:05"); a negative value means the length;
    // empty when nothing is open.
    [[nodiscard]] QString FormatTime(int ms) const;

    [[nodiscard]] const QString& FileName() const { return m_fileName; }
    [[nodiscard]] const QString& Title() const { return m_title; }
    [[nodiscard]] int Length() const { return m_length; }
    [[nodiscard]] bool Opened() const { return m_opened; }
    [[nodiscard]] bool Playing() const { return m_playing; }
    [[nodiscard]] bool Paused() const { return m_paused; }

    TErrorEvent OnError;
    TPlayEvent OnPlay;
    TNotifyEvent OnStartPlay;
    TNotifyEvent OnEndPlay;

    // The 100 ms poll while playing; public so that owners and tests can poll at once.
    void PositionTimerTimer();
    TThreadedTimer PositionTimer;

private:
    enum class TOpening { opPending, opOpened, opFailed };
    // Everything of an open up to asking the media library for the file; false (and
    // OnError) when it failed before.
    bool StartOpen(const QString& path);
    // The media library's events about the file being opened, the first waited for at
    // most `waitSeconds`.
    TOpening TakeOpenEvents(double waitSeconds);
    void PollOpen();
    void CancelOpen();
    bool EnsureHandle();
    // Reads the media library's pending events; notes when the open track was
    // unloaded by the library itself (a read or output error while playing).
    void DrainEvents();
    void Command(std::initializer_list<const char*> args) const;
    void SetPause(bool pause) const;
    [[nodiscard]] double Seconds(const char* property) const;
    [[nodiscard]] bool AtEnd() const;
    void Fail(const QString& reason);

    mpv_handle* m_mpv = nullptr;
    QString m_fileName;
    QString m_title;
    int m_length = 0;
    int m_volume = 100;
    bool m_opened = false;
    bool m_playing = false;
    bool m_paused = false;
    // The media library's playlist entry of the open track (0: none), so that the
    // late events of a track closed before are not taken for this one's.
    std::int64_t m_entryId = 0;
    // The library unloaded the open track by itself: it counts as ended.
    bool m_unloaded = false;
    // The end of the track was reported; once per track until it plays again from
    // elsewhere.
    bool m_endReported = false;
    // The file being opened: its playlist entry once the library started it, since
    // when it is asked for, and the poll and completion of OpenAsync.
    std::int64_t m_openingEntry = 0;
    QElapsedTimer m_openingSince;
    QTimer m_openTimer;
    std::function<void(bool opened)> m_openDone;
};
