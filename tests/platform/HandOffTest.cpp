#include "platform/HandOff.h"
#include "platform/HandOffServer.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace {

using pictrel::test::PumpUntil;

// Another instance's hand-off socket, served on a thread of its own so that the
// sender may block this one. Our parent's pid stands in for the other process.
class TPeer : public QThread {
public:
    explicit TPeer(QByteArray reply) : m_reply(std::move(reply)) {
        start();
        m_ok = m_listening.get_future().get();
    }
    ~TPeer() override {
        quit();
        wait();
    }
    [[nodiscard]] bool Listening() const { return m_ok; }
    [[nodiscard]] int Asked() const { return m_asked.load(); }
    // What the last client sent, all of it.
    [[nodiscard]] QByteArray Received() {
        const std::lock_guard lock(m_mutex);
        return m_received;
    }

protected:
    void run() override {
        const QString path = HandOffSocketPath(::getppid());
        QLocalServer::removeServer(path);
        QLocalServer server;
        const bool ok = server.listen(path);
        QObject::connect(&server, &QLocalServer::newConnection, &server, [&] {
            while (QLocalSocket* client = server.nextPendingConnection()) {
                QObject::connect(client, &QLocalSocket::disconnected, client,
                                 &QObject::deleteLater);
                QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
                    if (!client->canReadLine()) return;
                    {
                        const std::lock_guard lock(m_mutex);
                        m_received = client->readAll();
                    }
                    ++m_asked;
                    client->write(m_reply);
                    client->flush();
                    client->disconnectFromServer();
                });
            }
        });
        m_listening.set_value(ok);
        exec();
    }

private:
    QByteArray m_reply;
    std::promise<bool> m_listening;
    bool m_ok = false;
    std::atomic<int> m_asked{0};
    std::mutex m_mutex;
    QByteArray m_received;
};

TEST(HandOffRetry, AsksAgainUntilAnInstanceListens) {
    std::unique_ptr<TPeer> peer;
    int calls = 0;
    const THandOffResult result = SendHandOffMessageRetrying(20000, [&] {
        // The instance starts listening while the sender waits for the third time.
        if (++calls == 3) peer = std::make_unique<TPeer>("13\n");
        return true;
    });
    ASSERT_TRUE(peer && peer->Listening());
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(result.Reply, kHandOffAccepted);
    EXPECT_EQ(result.Answered, 1);
    EXPECT_EQ(peer->Asked(), 1);
}

TEST(HandOffRetry, StopsWhenRetryingIsNoLongerWorthIt) {
    int calls = 0;
    const THandOffResult result = SendHandOffMessageRetrying(20000, [&] {
        ++calls;
        return false; // the marker's holder is gone
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(result.Reply, 0u);
    EXPECT_EQ(result.Answered, 0);
}

TEST(HandOffRetry, NoPassAfterTheRetryTime) {
    int calls = 0;
    const THandOffResult result = SendHandOffMessageRetrying(0, [&] {
        ++calls;
        return true;
    });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(result.Answered, 0);
}

struct TAnswerCase {
    const char* Name;
    QByteArray Reply;
    std::uint32_t Expected;
};

class HandOffAnswerTest : public ::testing::TestWithParam<TAnswerCase> {};

// Any answer ends the retries: an instance whose viewer is hidden declines for good.
TEST_P(HandOffAnswerTest, AnyAnswerEndsTheRetries) {
    TPeer peer(GetParam().Reply);
    ASSERT_TRUE(peer.Listening());
    int calls = 0;
    const THandOffResult result = SendHandOffMessageRetrying(20000, [&] {
        ++calls;
        return true;
    });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(result.Reply, GetParam().Expected);
    EXPECT_EQ(result.Answered, 1);
    EXPECT_EQ(peer.Asked(), 1);
}

INSTANTIATE_TEST_SUITE_P(Replies, HandOffAnswerTest,
                         ::testing::Values(TAnswerCase{"Taken", "13\n", 13},
                                           TAnswerCase{"Declined", "0\n", 0},
                                           TAnswerCase{"Nonsense", "yes\n", 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(HandOffToken, GoesWithTheMessageInOneLine) {
    TPeer peer("13\n");
    ASSERT_TRUE(peer.Listening());
    EXPECT_EQ(SendHandOffMessage(kHandOffTimeoutMs, "launcher-7_b.9").Reply, kHandOffAccepted);
    EXPECT_EQ(peer.Received(), "Pictrel Message\nActivation token launcher-7_b.9\n");
}

TEST(HandOffToken, AnUnfitTokenStaysBehind) {
    TPeer peer("13\n");
    ASSERT_TRUE(peer.Listening());
    EXPECT_EQ(SendHandOffMessage(kHandOffTimeoutMs, "two words").Reply, kHandOffAccepted);
    EXPECT_EQ(peer.Received(), "Pictrel Message\n");
}

struct TTokenCase {
    const char* Name;
    QByteArray Token;
    bool Valid;
};

class ActivationTokenTest : public ::testing::TestWithParam<TTokenCase> {};

TEST_P(ActivationTokenTest, IsOneWordOfPrintableAscii) {
    EXPECT_EQ(ValidActivationToken(GetParam().Token), GetParam().Valid);
}

INSTANTIATE_TEST_SUITE_P(Tokens, ActivationTokenTest,
                         ::testing::Values(TTokenCase{"Empty", "", false},
                                           TTokenCase{"Word", "a1-B2_c3.d4", true},
                                           TTokenCase{"Longest", QByteArray(200, 'x'), true},
                                           TTokenCase{"TooLong", QByteArray(201, 'x'), false},
                                           TTokenCase{"Space", "a b", false},
                                           TTokenCase{"LineBreak", "a\nb", false},
                                           TTokenCase{"NotAscii", "t\xc3\xbc", false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(HandOffTurn, WaitsForTheHolderThenGoesOnWithoutATurn) {
    auto first = std::make_unique<THandOffTurn>(0);
    ASSERT_TRUE(first->Held());
    {
        const THandOffTurn second(30);
        EXPECT_FALSE(second.Held());
    }
    first.reset();
    const THandOffTurn third(0);
    EXPECT_TRUE(third.Held());
}

TEST(HandOffTurn, TakesTheTurnWhenTheHolderEnds) {
    auto first = std::make_unique<THandOffTurn>(0);
    ASSERT_TRUE(first->Held());
    std::atomic<bool> waiting{false};
    std::atomic<bool> held{false};
    std::thread second([&] {
        waiting = true;
        const THandOffTurn turn(20000);
        held = turn.Held();
    });
    while (!waiting.load()) std::this_thread::yield();
    first.reset();
    second.join();
    EXPECT_TRUE(held.load());
}

// A client of this process's own server: connects, sends one line, collects the answer.
class TClient {
public:
    explicit TClient(const QString& path, const QByteArray& line = "Pictrel Message\n") {
        m_socket.connectToServer(path);
        m_socket.write(line);
        m_socket.flush();
    }
    QByteArray Answer() {
        m_answer += m_socket.readAll();
        return m_answer;
    }

private:
    QLocalSocket m_socket;
    QByteArray m_answer;
};

TEST(HandOffServer, HeldRepliesWaitAndAreAnsweredInOrderOnRelease) {
    THandOffServer server;
    std::vector<int> order;
    int next = 0;
    server.OnMessage = [&]() -> std::uint32_t {
        order.push_back(next++);
        return 13;
    };
    server.HoldReplies(true);
    ASSERT_TRUE(server.Listen());
    TClient early(server.SocketPath()), later(server.SocketPath());
    ASSERT_TRUE(PumpUntil([&] { return server.WaitingCount() == 2; }));
    pictrel::test::PumpFor(30);
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(early.Answer(), "");

    server.HoldReplies(false);
    EXPECT_EQ(server.WaitingCount(), 0);
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
    EXPECT_TRUE(PumpUntil([&] { return early.Answer() == "13\n" && later.Answer() == "13\n"; }));

    // Released: the next one is answered at once.
    TClient after(server.SocketPath());
    EXPECT_TRUE(PumpUntil([&] { return after.Answer() == "13\n"; }));
    EXPECT_EQ(order.size(), 3u);
}

TEST(HandOffServer, OtherLinesAreAnsweredAtOnceEvenWhileHeld) {
    THandOffServer server;
    int asked = 0;
    server.OnMessage = [&]() -> std::uint32_t { return std::uint32_t(++asked) * 13; };
    server.HoldReplies(true);
    ASSERT_TRUE(server.Listen());
    TClient stranger(server.SocketPath(), "Something else\n");
    EXPECT_TRUE(PumpUntil([&] { return stranger.Answer() == "0\n"; }));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(server.WaitingCount(), 0);
}

TEST(HandOffServer, ClientThatWentAwayWhileHeldIsSkipped) {
    THandOffServer server;
    int asked = 0;
    server.OnMessage = [&]() -> std::uint32_t { return std::uint32_t(++asked) * 13; };
    server.HoldReplies(true);
    ASSERT_TRUE(server.Listen());
    {
        TClient gone(server.SocketPath());
        ASSERT_TRUE(PumpUntil([&] { return server.WaitingCount() == 1; }));
    }
    TClient staying(server.SocketPath());
    ASSERT_TRUE(PumpUntil([&] { return server.WaitingCount() == 2; }));
    pictrel::test::PumpFor(30); // the first one's end is seen and its socket freed
    server.HoldReplies(false);
    EXPECT_TRUE(PumpUntil([&] { return staying.Answer() == "13\n"; }));
    EXPECT_EQ(asked, 1);
}

// A server that takes every file and keeps the tokens it is given.
struct TTokenServer {
    THandOffServer Server;
    std::uint32_t Reply = kHandOffAccepted;
    QList<QByteArray> Tokens;
    int Asked = 0;

    TTokenServer() {
        Server.OnMessage = [this] {
            ++Asked;
            return Reply;
        };
        Server.OnActivationToken = [this](const QByteArray& token) { Tokens.append(token); };
    }
};

TEST(HandOffServer, AnAcceptedHandOffPassesItsTokenOn) {
    TTokenServer s;
    ASSERT_TRUE(s.Server.Listen());
    TClient client(s.Server.SocketPath(), "Pictrel Message\nActivation token tok-1\n");
    EXPECT_TRUE(PumpUntil([&] { return client.Answer() == "13\n"; }));
    EXPECT_EQ(s.Tokens, QList<QByteArray>{"tok-1"});
}

TEST(HandOffServer, ADeclinedHandOffDropsItsToken) {
    TTokenServer s;
    s.Reply = 0;
    ASSERT_TRUE(s.Server.Listen());
    TClient client(s.Server.SocketPath(), "Pictrel Message\nActivation token tok-2\n");
    EXPECT_TRUE(PumpUntil([&] { return client.Answer() == "0\n"; }));
    EXPECT_EQ(s.Asked, 1);
    EXPECT_TRUE(s.Tokens.isEmpty());
}

TEST(HandOffServer, AHeldMessageKeepsItsToken) {
    TTokenServer s;
    s.Server.HoldReplies(true);
    ASSERT_TRUE(s.Server.Listen());
    TClient plain(s.Server.SocketPath());
    TClient withToken(s.Server.SocketPath(), "Pictrel Message\nActivation token tok-3\n");
    ASSERT_TRUE(PumpUntil([&] { return s.Server.WaitingCount() == 2; }));
    EXPECT_TRUE(s.Tokens.isEmpty());
    s.Server.HoldReplies(false);
    EXPECT_TRUE(PumpUntil([&] { return withToken.Answer() == "13\n"; }));
    EXPECT_EQ(s.Asked, 2);
    EXPECT_EQ(s.Tokens, QList<QByteArray>{"tok-3"});
}

TEST(HandOffServer, OnlyAWellFormedTokenLineCounts) {
    TTokenServer s;
    ASSERT_TRUE(s.Server.Listen());
    TClient otherLine(s.Server.SocketPath(), "Pictrel Message\nSomething tok-4\n");
    TClient badToken(s.Server.SocketPath(), "Pictrel Message\nActivation token tok 5\n");
    EXPECT_TRUE(PumpUntil([&] { return otherLine.Answer() == "13\n"; }));
    EXPECT_TRUE(PumpUntil([&] { return badToken.Answer() == "13\n"; }));
    EXPECT_EQ(s.Asked, 2);
    EXPECT_TRUE(s.Tokens.isEmpty());
}

} // namespace
