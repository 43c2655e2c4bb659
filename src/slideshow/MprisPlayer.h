#pragma once

#include <QDBusConnection>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// The slideshow as a media player on the session bus (the MPRIS interfaces), so the
// desktop's media keys and sound menu pause, step and end the show the way they
// control any player. The bus is reached by the first Register only: a run that
// never plays a show never connects. Taking the name is asked without waiting for
// the bus; giving it back follows on the same connection, so it is never left held.
class TMprisPlayer {
public:
    static constexpr char kServiceName[] = "org.mpris.MediaPlayer2.pictrel";
    static constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";

    enum class TStatus : std::uint8_t { Playing, Paused, Stopped };

    // What the bus's calls do; each may be left empty.
    struct TActions {
        std::function<void()> PlayPause, Play, Pause, Next, Previous, Stop;
    };

    TMprisPlayer();
    // On another connection (tests use a private bus).
    explicit TMprisPlayer(const QDBusConnection& connection);
    ~TMprisPlayer();
    TMprisPlayer(const TMprisPlayer&) = delete;
    TMprisPlayer& operator=(const TMprisPlayer&) = delete;

    TActions Actions;

    // Offers the player on the bus; false when there is no bus or the object cannot
    // be placed. A second call before Unregister does nothing more.
    bool Register();
    void Unregister();
    [[nodiscard]] bool Registered() const { return m_registered; }

    // Told to the desktop as they change.
    void SetStatus(TStatus status);
    // The music track now playing (its title and its place in the order); an empty
    // title when none plays.
    void SetTrack(const QString& title, int index);
    [[nodiscard]] TStatus Status() const { return m_status; }

    class TObject;

private:
    void PropertiesChanged(const char* property);

    std::optional<QDBusConnection> m_bus;
    std::unique_ptr<TObject> m_object;
    bool m_registered = false;
    TStatus m_status = TStatus::Stopped;
    QString m_title;
    int m_track = -1;
};
