// The slideshow's media player on a private session bus, called as a desktop does.

#include "slideshow/MprisPlayer.h"

#include "common/PrivateSessionBus.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QTest>

#include <memory>
#include <string>

namespace {

const QString kService = QString::fromLatin1(TMprisPlayer::kServiceName);
const QString kPath = QString::fromLatin1(TMprisPlayer::kObjectPath);
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

class MprisPlayer : public testing::Test {
protected:
    void SetUp() override {
        const QString failure = m_bus.Start();
        if (!failure.isEmpty()) GTEST_SKIP() << failure.toStdString();
        m_player = std::make_unique<TMprisPlayer>(*m_bus.Program);
        m_player->Actions = {[this] { m_done += "PlayPause"; }, [this] { m_done += "Play"; },
                             [this] { m_done += "Pause"; },     [this] { m_done += "Next"; },
                             [this] { m_done += "Previous"; },  [this] { m_done += "Stop"; }};
    }
    void TearDown() override {
        m_player.reset();
        m_bus.Stop();
    }

    bool NameHeld() const {
        return m_bus.Desktop->interface()->isServiceRegistered(kService).value();
    }
    bool WaitNameHeld(bool held) {
        return QTest::qWaitFor([&] { return NameHeld() == held; }, 10000);
    }

    // A call as the desktop makes it; the player answers on this thread's event loop.
    QDBusMessage Call(const QString& interface, const QString& member,
                      const QVariantList& args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, interface, member);
        call.setArguments(args);
        QDBusPendingCall pending = m_bus.Desktop->asyncCall(call);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 10000))
            << member.toStdString();
        return pending.reply();
    }
    QVariantMap All(const QString& interface) {
        const QDBusMessage reply = Call(QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("GetAll"), {interface});
        return qdbus_cast<QVariantMap>(reply.arguments().value(0));
    }

    pictrel::test::TPrivateSessionBus m_bus;
    std::unique_ptr<TMprisPlayer> m_player;
    QString m_done;
};

TEST_F(MprisPlayer, HoldsItsNameOnlyWhileRegistered) {
    EXPECT_FALSE(NameHeld());
    ASSERT_TRUE(m_player->Register());
    EXPECT_TRUE(WaitNameHeld(true));
    m_player->Unregister();
    EXPECT_TRUE(WaitNameHeld(false));
    ASSERT_TRUE(m_player->Register());
    EXPECT_TRUE(WaitNameHeld(true)) << "a second show offers it again";
    m_player.reset();
    EXPECT_TRUE(WaitNameHeld(false)) << "a player that goes gives the name back";
}

TEST_F(MprisPlayer, StatusAndTrackAreItsProperties) {
    ASSERT_TRUE(m_player->Register());
    ASSERT_TRUE(WaitNameHeld(true));
    EXPECT_EQ(All(kPlayer).value("PlaybackStatus").toString(), "Stopped");
    m_player->SetStatus(TMprisPlayer::TStatus::Playing);
    m_player->SetTrack(QStringLiteral("Morning"), 2);
    const QVariantMap player = All(kPlayer);
    EXPECT_EQ(player.value("PlaybackStatus").toString(), "Playing");
    EXPECT_TRUE(player.value("CanControl").toBool());
    const QVariantMap metadata = qdbus_cast<QVariantMap>(player.value("Metadata"));
    EXPECT_EQ(metadata.value("xesam:title").toString(), "Morning");
    EXPECT_EQ(metadata.value("mpris:trackid").value<QDBusObjectPath>().path(),
              "/org/pictrel/track/2");
    m_player->SetStatus(TMprisPlayer::TStatus::Paused);
    const QDBusMessage status = Call(QStringLiteral("org.freedesktop.DBus.Properties"),
                                     QStringLiteral("Get"), {kPlayer, "PlaybackStatus"});
    EXPECT_EQ(status.arguments().value(0).value<QDBusVariant>().variant().toString(), "Paused");
    EXPECT_EQ(All(QStringLiteral("org.mpris.MediaPlayer2")).value("Identity").toString(),
              "Pictrel");
}

class MprisPlayerMethod : public MprisPlayer, public testing::WithParamInterface<const char*> {};

TEST_P(MprisPlayerMethod, ReachesItsAction) {
    ASSERT_TRUE(m_player->Register());
    ASSERT_TRUE(WaitNameHeld(true));
    const QDBusMessage reply = Call(kPlayer, QString::fromLatin1(GetParam()));
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(m_done, QString::fromLatin1(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Methods, MprisPlayerMethod,
                         testing::Values("PlayPause", "Play", "Pause", "Next", "Previous", "Stop"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

TEST_F(MprisPlayer, AnUnknownMethodIsAnErrorAndDoesNothing) {
    ASSERT_TRUE(m_player->Register());
    ASSERT_TRUE(WaitNameHeld(true));
    EXPECT_EQ(Call(kPlayer, QStringLiteral("Explode")).type(), QDBusMessage::ErrorMessage);
    EXPECT_TRUE(m_done.isEmpty());
}

} // namespace
