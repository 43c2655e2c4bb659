#include "slideshow/MprisPlayer.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QString StatusText(TMprisPlayer::TStatus status) {
    switch (status) {
    case TMprisPlayer::TStatus::Playing:
        return QStringLiteral("Playing");
    case TMprisPlayer::TStatus::Paused:
        return QStringLiteral("Paused");
    case TMprisPlayer::TStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

} // namespace

// The object at /org/mpris/MediaPlayer2: its methods and properties answered by hand,
// which needs no generated code.
class TMprisPlayer::TObject : public QDBusVirtualObject {
public:
    explicit TObject(TMprisPlayer& player) : m_player(player) {}

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.mpris.MediaPlayer2\">"
            "<method name=\"Raise\"/><method name=\"Quit\"/>"
            "<property name=\"CanQuit\" type=\"b\" access=\"read\"/>"
            "<property name=\"CanRaise\" type=\"b\" access=\"read\"/>"
            "<property name=\"HasTrackList\" type=\"b\" access=\"read\"/>"
            "<property name=\"Identity\" type=\"s\" access=\"read\"/>"
            "<property name=\"DesktopEntry\" type=\"s\" access=\"read\"/>"
            "<property name=\"SupportedUriSchemes\" type=\"as\" access=\"read\"/>"
            "<property name=\"SupportedMimeTypes\" type=\"as\" access=\"read\"/>"
            "</interface>"
            "<interface name=\"org.mpris.MediaPlayer2.Player\">"
            "<method name=\"Next\"/><method name=\"Previous\"/><method name=\"Pause\"/>"
            "<method name=\"PlayPause\"/><method name=\"Stop\"/><method name=\"Play\"/>"
            "<method name=\"Seek\"><arg name=\"Offset\" type=\"x\" direction=\"in\"/></method>"
            "<method name=\"SetPosition\"><arg name=\"TrackId\" type=\"o\" direction=\"in\"/>"
            "<arg name=\"Position\" type=\"x\" direction=\"in\"/></method>"
            "<method name=\"OpenUri\"><arg name=\"Uri\" type=\"s\" direction=\"in\"/></method>"
            "<signal name=\"Seeked\"><arg name=\"Position\" type=\"x\"/></signal>"
            "<property name=\"PlaybackStatus\" type=\"s\" access=\"read\"/>"
            "<property name=\"Rate\" type=\"d\" access=\"read\"/>"
            "<property name=\"Metadata\" type=\"a{sv}\" access=\"read\"/>"
            "<property name=\"Volume\" type=\"d\" access=\"read\"/>"
            "<property name=\"Position\" type=\"x\" access=\"read\"/>"
            "<property name=\"MinimumRate\" type=\"d\" access=\"read\"/>"
            "<property name=\"MaximumRate\" type=\"d\" access=\"read\"/>"
            "<property name=\"CanGoNext\" type=\"b\" access=\"read\"/>"
            "<property name=\"CanGoPrevious\" type=\"b\" access=\"read\"/>"
            "<property name=\"CanPlay\" type=\"b\" access=\"read\"/>"
            "<property name=\"CanPause\" type=\"b\" access=\"read\"/>"
            "<property name=\"CanSeek\" type=\"b\" access=\"read\"/>"
            "<property name=\"CanControl\" type=\"b\" access=\"read\"/>"
            "</interface>"
            "<interface name=\"org.freedesktop.DBus.Properties\">"
            "<method name=\"Get\"><arg name=\"interface\" type=\"s\" direction=\"in\"/>"
            "<arg name=\"property\" type=\"s\" direction=\"in\"/>"
            "<arg name=\"value\" type=\"v\" direction=\"out\"/></method>"
            "<method name=\"GetAll\"><arg name=\"interface\" type=\"s\" direction=\"in\"/>"
            "<arg name=\"properties\" type=\"a{sv}\" direction=\"out\"/></method>"
            "<method name=\"Set\"><arg name=\"interface\" type=\"s\" direction=\"in\"/>"
            "<arg name=\"property\" type=\"s\" direction=\"in\"/>"
            "<arg name=\"value\" type=\"v\" direction=\"in\"/></method>"
            "<signal name=\"PropertiesChanged\"><arg type=\"s\"/><arg type=\"a{sv}\"/>"
            "<arg type=\"as\"/></signal>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString interface = message.interface();
        const QString member = message.member();
        if (interface == kPropertiesInterface) return Properties(message, connection);
        if (interface == kRootInterface || (interface.isEmpty() && RootMember(member))) {
            if (!RootMember(member)) return false;
            connection.send(message.createReply()); // neither raised nor quit by the desktop
            return true;
        }
        if (interface != kPlayerInterface && !interface.isEmpty()) return false;
        const TActions& a = m_player.Actions;
        const std::function<void()>* action = nullptr;
        if (member == QLatin1String("PlayPause"))
            action = &a.PlayPause;
        else if (member == QLatin1String("Play"))
            action = &a.Play;
        else if (member == QLatin1String("Pause"))
            action = &a.Pause;
        else if (member == QLatin1String("Next"))
            action = &a.Next;
        else if (member == QLatin1String("Previous"))
            action = &a.Previous;
        else if (member == QLatin1String("Stop"))
            action = &a.Stop;
        else if (member != QLatin1String("Seek") && member != QLatin1String("SetPosition") &&
                 member != QLatin1String("OpenUri"))
            return false;
        // Answered first: an action may end the show and take the player with it.
        connection.send(message.createReply());
        if (action != nullptr && *action) (*action)();
        return true;
    }

    [[nodiscard]] QVariantMap All(const QString& interface) const {
        if (interface == kRootInterface)
            return {{QStringLiteral("CanQuit"), false},
                    {QStringLiteral("CanRaise"), false},
                    {QStringLiteral("HasTrackList"), false},
                    {QStringLiteral("Identity"), QStringLiteral("Pictrel")},
                    {QStringLiteral("DesktopEntry"), QStringLiteral("pictrel")},
                    {QStringLiteral("SupportedUriSchemes"), QStringList()},
                    {QStringLiteral("SupportedMimeTypes"), QStringList()}};
        if (interface != kPlayerInterface) return {};
        return {{QStringLiteral("PlaybackStatus"), StatusText(m_player.m_status)},
                {QStringLiteral("Rate"), 1.0},
                {QStringLiteral("Metadata"), Metadata()},
                {QStringLiteral("Volume"), 1.0},
                {QStringLiteral("Position"), qlonglong(0)},
                {QStringLiteral("MinimumRate"), 1.0},
                {QStringLiteral("MaximumRate"), 1.0},
                {QStringLiteral("CanGoNext"), true},
                {QStringLiteral("CanGoPrevious"), true},
                {QStringLiteral("CanPlay"), true},
                {QStringLiteral("CanPause"), true},
                {QStringLiteral("CanSeek"), false},
                {QStringLiteral("CanControl"), true}};
    }

    [[nodiscard]] QVariantMap Metadata() const {
        QVariantMap metadata;
        const QString id = m_player.m_track >= 0 && !m_player.m_title.isEmpty()
                               ? QStringLiteral("/org/pictrel/track/%1").arg(m_player.m_track)
                               : QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
        metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(id)));
        if (!m_player.m_title.isEmpty())
            metadata.insert(QStringLiteral("xesam:title"), m_player.m_title);
        return metadata;
    }

private:
    static bool RootMember(const QString& member) {
        return member == QLatin1String("Raise") || member == QLatin1String("Quit");
    }

    bool Properties(const QDBusMessage& message, const QDBusConnection& connection) const {
        const QVariantList args = message.arguments();
        const QString member = message.member();
        const QVariantMap all = All(args.value(0).toString());
        if (member == QLatin1String("GetAll")) {
            connection.send(message.createReply(all));
            return true;
        }
        const QString name = args.value(1).toString();
        if (member == QLatin1String("Get")) {
            if (!all.contains(name)) {
                connection.send(message.createErrorReply(
                    QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                    QStringLiteral("No property ") + name));
                return true;
            }
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all[name]))));
            return true;
        }
        if (member == QLatin1String("Set")) {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                QStringLiteral("The property ") + name + QStringLiteral(" is read-only")));
            return true;
        }
        return false;
    }

    TMprisPlayer& m_player;
};

TMprisPlayer::TMprisPlayer() = default;

TMprisPlayer::TMprisPlayer(const QDBusConnection& connection) : m_bus(connection) {}

TMprisPlayer::~TMprisPlayer() {
    Unregister();
}

bool TMprisPlayer::Register() {
    if (m_registered) return true;
    if (!m_bus) m_bus = QDBusConnection::sessionBus();
    if (!m_bus->isConnected()) return false;
    if (!m_object) m_object = std::make_unique<TObject>(*this);
    if (!m_bus->registerVirtualObject(QLatin1String(kObjectPath), m_object.get(),
                                      QDBusConnection::SingleNode))
        return false;
    // Not waited for; a name another player of ours holds is simply not granted.
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    constexpr uint kDoNotQueue = 4;
    request << QString::fromLatin1(kServiceName) << kDoNotQueue;
    m_bus->send(request);
    m_registered = true;
    return true;
}

void TMprisPlayer::Unregister() {
    if (!m_registered) return;
    m_registered = false;
    QDBusMessage release = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReleaseName"));
    release << QString::fromLatin1(kServiceName);
    m_bus->send(release);
    m_bus->unregisterObject(QLatin1String(kObjectPath));
}

void TMprisPlayer::SetStatus(TStatus status) {
    if (status == m_status) return;
    m_status = status;
    PropertiesChanged("PlaybackStatus");
}

void TMprisPlayer::SetTrack(const QString& title, int index) {
    if (title == m_title && index == m_track) return;
    m_title = title;
    m_track = index;
    PropertiesChanged("Metadata");
}

void TMprisPlayer::PropertiesChanged(const char* property) {
    if (!m_registered) return;
    const QString name = QString::fromLatin1(property);
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(kObjectPath), kPropertiesInterface, QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << QVariantMap{{name, m_object->All(kPlayerInterface)[name]}}
           << QStringList();
    m_bus->send(signal);
}
