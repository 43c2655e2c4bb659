#include "platform/InstanceLock.h"
#include "platform/HandOff.h"
#include "platform/HandOffServer.h"
#include "platform/RuntimeFolder.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QProcess>

#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

TEST(InstanceLock, SecondHolderSeesTheFirst) {
    auto first = std::make_unique<TInstanceLock>("LockTest");
    EXPECT_FALSE(first->ExistedBefore());
    EXPECT_TRUE(first->Held());
    TInstanceLock second("LockTest");
    EXPECT_TRUE(second.ExistedBefore());
    EXPECT_TRUE(second.Held());
    first.reset();
    // The second still holds its shared lock.
    TInstanceLock third("LockTest");
    EXPECT_TRUE(third.ExistedBefore());
}

TEST(InstanceLock, HeldByOthersSeesOnlyTheOtherHolders) {
    auto first = std::make_unique<TInstanceLock>("LockOthers");
    EXPECT_FALSE(first->HeldByOthers());
    auto second = std::make_unique<TInstanceLock>("LockOthers");
    EXPECT_TRUE(first->HeldByOthers());
    EXPECT_TRUE(second->HeldByOthers());
    first.reset();
    EXPECT_FALSE(second->HeldByOthers());
    // Asking keeps the asker's own hold.
    EXPECT_TRUE(second->Held());
    TInstanceLock third("LockOthers");
    EXPECT_TRUE(third.ExistedBefore());
    EXPECT_TRUE(third.HeldByOthers());
}

TEST(InstanceLock, GoneWhenEveryHolderIsGone) {
    { TInstanceLock lock("LockGone"); }
    TInstanceLock again("LockGone");
    EXPECT_FALSE(again.ExistedBefore());
    // The lock file itself stays; it must not count as a running instance.
    EXPECT_TRUE(QFile::exists(RuntimeFolder() + "/lockgone.lock"));
}

// Starts in the same instant: exactly one of them may see no instance before it.
TEST(InstanceLock, OfSimultaneousStartsExactlyOneIsFirst) {
    constexpr int kStarts = 6;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const QString name = QStringLiteral("LockRace%1").arg(round);
        std::atomic<int> ready{0};
        std::array<std::unique_ptr<TInstanceLock>, kStarts> locks;
        std::vector<std::thread> starts;
        for (int i = 0; i < kStarts; ++i)
            starts.emplace_back([&, i] {
                ++ready;
                while (ready.load() < kStarts) std::this_thread::yield();
                locks[std::size_t(i)] = std::make_unique<TInstanceLock>(name);
            });
        for (std::thread& t : starts) t.join();
        int first = 0;
        for (const auto& lock : locks) {
            EXPECT_TRUE(lock->Held());
            if (!lock->ExistedBefore()) ++first;
        }
        EXPECT_EQ(first, 1);
    }
}

TEST(RuntimeFolder, IsPrivate) {
    const QString folder = RuntimeFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_EQ(QFile::permissions(folder) &
                  (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
              QFileDevice::Permissions());
}

TEST(HandOff, SocketsOfDeadProcessesAreRemoved) {
    // A pid that belongs to no process: a child we started and reaped.
    QProcess probe;
    probe.start("/bin/true");
    probe.waitForStarted();
    const qint64 deadPid = probe.processId();
    probe.waitForFinished();
    ASSERT_GT(deadPid, 0);
    const QString stale = HandOffSocketPath(deadPid);
    {
        QFile file(stale);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const THandOffResult result = SendHandOffMessage(500);
    EXPECT_EQ(result.Reply, 0u);
    EXPECT_GE(result.Removed, 1);
    EXPECT_FALSE(QFile::exists(stale));
}

TEST(HandOff, ServerThatNeverAnswersIsSkippedAndKept) {
    // A live process's socket whose owner never reads: our parent's pid stands in.
    const QString path = HandOffSocketPath(::getppid());
    QLocalServer::removeServer(path);
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(path));
    const THandOffResult result = SendHandOffMessage(100);
    EXPECT_EQ(result.Reply, 0u);
    EXPECT_EQ(result.Asked, 1);
    EXPECT_TRUE(QFile::exists(path));
}

TEST(HandOffServer, ListensOnItsPidAndRemovesTheSocket) {
    QString path;
    {
        THandOffServer server;
        ASSERT_TRUE(server.Listen());
        path = server.SocketPath();
        EXPECT_EQ(path, HandOffSocketPath(QCoreApplication::applicationPid()));
        EXPECT_TRUE(QFile::exists(path));
    }
    EXPECT_FALSE(QFile::exists(path));
}

} // namespace
