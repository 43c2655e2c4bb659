#pragma once

#include <QString>

// The per-logon instance marker. Construction probes a lock file in the runtime
// folder with an exclusive non-blocking flock: if that fails another instance
// holds it, so the marker "existed before". Then a shared lock is taken and held
// for the object's lifetime (keep it until the process ends). The kernel drops
// the lock of a process that dies, so a killed instance never makes the next
// start believe a viewer is running. Any failure means "did not exist before".
// Probe and downgrade run under a second lock file, so of two starts in the same
// instant exactly one sees "did not exist".
class TInstanceLock {
public:
    explicit TInstanceLock(const QString& name = QStringLiteral("Pictrel"));
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    [[nodiscard]] bool ExistedBefore() const { return m_existedBefore; }
    [[nodiscard]] bool Held() const { return m_held; }

    // True while another holder (another process, or another object of this one)
    // holds the marker too. Probes under the same guard as construction and keeps
    // this object's own hold; false when it cannot tell.
    [[nodiscard]] bool HeldByOthers();

private:
    void TakeShared();

    QString m_base; // lock file path without its extension
    int m_fd = -1;
    bool m_existedBefore = false;
    bool m_held = false;
};
