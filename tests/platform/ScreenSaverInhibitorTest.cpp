#include "platform/ScreenSaverInhibitor.h"

#include "common/PrivateSessionBus.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// An inhibition service as a desktop offers it: cookies out, cookies back. It can hold
// its answers back to play a slow desktop.
class TFakeInhibitService : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("Inhibit")) {
            const std::uint32_t cookie = ++m_next;
            Inhibits.push_back(cookie);
            const QDBusMessage reply = message.createReply(QVariant::fromValue(cookie));
            if (HoldAnswers)
                m_held.push_back(reply);
            else
                connection.send(reply);
            return true;
        }
        if (message.member() == QLatin1String("UnInhibit")) {
            UnInhibits.push_back(message.arguments().value(0).toUInt());
            connection.send(message.createReply());
            return true;
        }
        return false;
    }
    void Answer(const QDBusConnection& connection) {
        for (const QDBusMessage& m : m_held) connection.send(m);
        m_held.clear();
    }

    std::vector<std::uint32_t> Inhibits;
    std::vector<std::uint32_t> UnInhibits;
    bool HoldAnswers = false;

private:
    std::uint32_t m_next = 40;
    std::vector<QDBusMessage> m_held;
};

class ScreenSaverInhibitor : public testing::Test {
protected:
    void SetUp() override {
        const QString failure = m_private.Start();
        if (!failure.isEmpty()) GTEST_SKIP() << failure.toStdString();
        m_service = m_private.Desktop.get();
        m_client = m_private.Program.get();
    }
    void TearDown() override { m_private.Stop(); }
    void Offer(TFakeInhibitService& fake, const char* service, const char* path) {
        ASSERT_TRUE(m_service->registerService(QString::fromLatin1(service)));
        ASSERT_TRUE(m_service->registerVirtualObject(QString::fromLatin1(path), &fake));
    }
    void OfferScreenSaver(const char* path = "/org/freedesktop/ScreenSaver") {
        Offer(m_screenSaver, "org.freedesktop.ScreenSaver", path);
    }
    // Until the screen saver has been asked, or has had a cookie given back.
    bool WaitAsked() {
        return QTest::qWaitFor([&] { return !m_screenSaver.Inhibits.empty(); }, 10000);
    }
    bool WaitGivenBack() {
        return QTest::qWaitFor([&] { return !m_screenSaver.UnInhibits.empty(); }, 10000);
    }

    pictrel::test::TPrivateSessionBus m_private;
    QDBusConnection* m_service = nullptr;
    QDBusConnection* m_client = nullptr;
    TFakeInhibitService m_screenSaver, m_power;
};

TEST_F(ScreenSaverInhibitor, ReleaseGivesBackExactlyTheCookieTaken) {
    OfferScreenSaver();
    TScreenSaverInhibitor inhibitor(*m_client);
    ASSERT_TRUE(inhibitor.Inhibit("Pictrel", "Playing a slideshow"));
    EXPECT_TRUE(inhibitor.Inhibit("Pictrel", "Playing a slideshow")) << "a second call";
    ASSERT_TRUE(QTest::qWaitFor([&] { return inhibitor.Held() == 1; }, 10000));
    EXPECT_TRUE(inhibitor.Active());
    EXPECT_EQ(m_screenSaver.Inhibits.size(), 1U) << "asked once";
    inhibitor.Release();
    EXPECT_FALSE(inhibitor.Active());
    ASSERT_TRUE(WaitGivenBack());
    EXPECT_EQ(m_screenSaver.UnInhibits, m_screenSaver.Inhibits);
    inhibitor.Release();
    EXPECT_EQ(m_screenSaver.UnInhibits.size(), 1U) << "released once";
}

TEST_F(ScreenSaverInhibitor, BothServicesAreInhibitedAndTheDestructorReleases) {
    OfferScreenSaver();
    Offer(m_power, "org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit");
    {
        TScreenSaverInhibitor inhibitor(*m_client);
        inhibitor.Inhibit("Pictrel", "Playing a slideshow");
        ASSERT_TRUE(QTest::qWaitFor([&] { return inhibitor.Held() == 2; }, 10000));
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !m_screenSaver.UnInhibits.empty() && !m_power.UnInhibits.empty(); }, 10000));
    EXPECT_EQ(m_screenSaver.UnInhibits, m_screenSaver.Inhibits);
    EXPECT_EQ(m_power.UnInhibits, m_power.Inhibits);
}

TEST_F(ScreenSaverInhibitor, TheShortPathServesOlderDesktops) {
    OfferScreenSaver("/ScreenSaver");
    TScreenSaverInhibitor inhibitor(*m_client);
    inhibitor.Inhibit("Pictrel", "Playing a slideshow");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !inhibitor.Waiting(); }, 10000));
    EXPECT_TRUE(inhibitor.Active());
    inhibitor.Release();
    ASSERT_TRUE(WaitGivenBack());
    EXPECT_EQ(m_screenSaver.UnInhibits, m_screenSaver.Inhibits);
}

TEST_F(ScreenSaverInhibitor, AnAnswerAfterTheReleaseIsGivenBackAtOnce) {
    OfferScreenSaver();
    m_screenSaver.HoldAnswers = true;
    TScreenSaverInhibitor inhibitor(*m_client);
    inhibitor.Inhibit("Pictrel", "Playing a slideshow");
    ASSERT_TRUE(WaitAsked());
    inhibitor.Release();
    m_screenSaver.Answer(*m_service);
    ASSERT_TRUE(WaitGivenBack());
    EXPECT_EQ(m_screenSaver.UnInhibits, m_screenSaver.Inhibits);
    EXPECT_FALSE(inhibitor.Active());
    EXPECT_FALSE(inhibitor.Waiting());
}

TEST_F(ScreenSaverInhibitor, AnAnswerAfterTheInhibitorWentIsGivenBack) {
    OfferScreenSaver();
    m_screenSaver.HoldAnswers = true;
    {
        TScreenSaverInhibitor inhibitor(*m_client);
        inhibitor.Inhibit("Pictrel", "Playing a slideshow");
        ASSERT_TRUE(WaitAsked());
    }
    m_screenSaver.Answer(*m_service);
    ASSERT_TRUE(WaitGivenBack());
    EXPECT_EQ(m_screenSaver.UnInhibits, m_screenSaver.Inhibits);
}

TEST_F(ScreenSaverInhibitor, InhibitingAgainKeepsTheLateAnswer) {
    OfferScreenSaver();
    m_screenSaver.HoldAnswers = true;
    TScreenSaverInhibitor inhibitor(*m_client);
    inhibitor.Inhibit("Pictrel", "Playing a slideshow");
    ASSERT_TRUE(WaitAsked());
    inhibitor.Release();
    inhibitor.Inhibit("Pictrel", "Playing a slideshow");
    m_screenSaver.Answer(*m_service);
    ASSERT_TRUE(QTest::qWaitFor([&] { return inhibitor.Active(); }, 10000));
    EXPECT_EQ(m_screenSaver.Inhibits.size(), 1U) << "the answer on its way serves again";
    EXPECT_TRUE(m_screenSaver.UnInhibits.empty());
    inhibitor.Release();
    ASSERT_TRUE(WaitGivenBack());
    EXPECT_EQ(m_screenSaver.UnInhibits, m_screenSaver.Inhibits);
}

TEST_F(ScreenSaverInhibitor, WithoutAServiceNothingIsHeld) {
    TScreenSaverInhibitor inhibitor(*m_client);
    EXPECT_TRUE(inhibitor.Inhibit("Pictrel", "Playing a slideshow"));
    // The bus answers that nobody owns the names.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !inhibitor.Waiting(); }, 10000));
    EXPECT_FALSE(inhibitor.Active());
    inhibitor.Release();
    EXPECT_FALSE(inhibitor.Active());
}

TEST(ScreenSaverInhibitorNoBus, ADisconnectedBusIsNoError) {
    TScreenSaverInhibitor inhibitor(QDBusConnection(QStringLiteral("nowhere")));
    EXPECT_FALSE(inhibitor.Inhibit("Pictrel", "Playing a slideshow"));
    EXPECT_FALSE(inhibitor.Active());
    inhibitor.Release();
}

} // namespace
