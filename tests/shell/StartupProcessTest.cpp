// Runs the real program: roles, registration switches, and the hand-off between
// processes on the offscreen platform. Every child inherits the test's
// private XDG folders.
#include "app/FileAssociations.h"
#include "app/SettingsLayout.h"
#include "common/TestSupport.h"
#include "platform/HandOff.h"
#include "platform/HandOffServer.h"
#include "platform/InstanceLock.h"
#include "platform/Registry.h"
#include "platform/RuntimeFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <memory>
#include <sys/time.h>
#include <vector>

namespace {

// A started program whose standard error is collected.
class TProgram {
public:
    explicit TProgram(const QStringList& args, const QString& workingFolder = {},
                      const QProcessEnvironment& extra = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("PICTREL_TRACE_OPEN", "1");
        env.insert(extra);
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        if (!workingFolder.isEmpty()) m_process.setWorkingDirectory(workingFolder);
        m_process.start(PICTREL_EXE, args);
    }
    ~TProgram() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess& Process() { return m_process; }
    QString Errors() {
        m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_errors;
    }
    bool WaitForError(const QString& text, int ms = 10000) {
        return pictrel::test::PumpUntil([&] { return Errors().contains(text); }, ms);
    }
    // Runs to the end; the exit code, or -1 when it did not end in time.
    int Finish(int ms = 20000) {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(ms)) return -1;
        Errors();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
    }
    // Finish, running this process's event loop meanwhile (for a receiver in it).
    int FinishPumping(int ms = 20000) {
        pictrel::test::PumpUntil([&] { return m_process.state() == QProcess::NotRunning; }, ms);
        return Finish(0);
    }
    // The files the viewer was asked to open so far, in order.
    QStringList Opened() {
        QStringList files;
        for (const QString& line : Errors().split('\n'))
            if (line.startsWith("pictrel: open ")) files.append(line.mid(14));
        return files;
    }

private:
    QProcess m_process;
    QString m_errors;
};

QString SocketOf(TProgram& program) {
    return HandOffSocketPath(program.Process().processId());
}

bool WaitForSocket(TProgram& program) {
    return pictrel::test::PumpUntil([&] { return QFile::exists(SocketOf(program)); }, 15000);
}

QString MakePicture(const QString& name) {
    QDir().mkpath(QFileInfo(name).absolutePath());
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    image.save(name, "PNG");
    return name;
}

QString NewFileName() {
    TRegistry reg;
    reg.OpenKey(layout::kProgramKey, true);
    return reg.ReadString(layout::kNewFileName).value_or("<absent>");
}

// Hands over whatever "New file name" holds, from this process, until a visible
// viewer takes it: proof that the viewer is up and its start-up decisions made.
bool AskUntilTaken() {
    return pictrel::test::PumpUntil(
        [] { return SendHandOffMessage(200).Reply == kHandOffAccepted; }, 20000);
}

int SocketCount() {
    return int(QDir(RuntimeFolder()).entryList({"pictrel-*"}, QDir::System).size());
}

TEST(StartupProcess, SecondViewHandsItsFileToTheFirst) {
    const QString first = MakePicture(QDir::tempPath() + "/pics/first.png");
    const QString second =
        MakePicture(QDir::tempPath() + QString::fromUtf8("/pics/mit Leerzeichen ü/zweites.png"));
    TProgram viewer({"/view", first});
    ASSERT_TRUE(viewer.WaitForError("pictrel: open " + first)) << viewer.Errors().toStdString();
    ASSERT_TRUE(WaitForSocket(viewer));

    TProgram handOff({"/VIEW", second});
    EXPECT_EQ(handOff.Finish(), 0) << handOff.Errors().toStdString();
    EXPECT_TRUE(viewer.WaitForError("pictrel: open " + second)) << viewer.Errors().toStdString();
    EXPECT_EQ(NewFileName(), second);
    EXPECT_EQ(viewer.Process().state(), QProcess::Running);
}

// The first picture starts decoding before the application exists; formats that need
// the application's own readers must wait for it instead of bringing the start down.
TEST(StartupProcess, FirstPictureOfEveryKindIsShown) {
    const QString pics = QDir::tempPath() + "/first";
    QDir().mkpath(pics);
    QFile svg(pics + "/drawing.svg");
    ASSERT_TRUE(svg.open(QIODevice::WriteOnly));
    svg.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" height=\"30\">"
              "<rect width=\"40\" height=\"30\" fill=\"#f0f\"/></svg>");
    svg.close();
    for (const QString& file : {MakePicture(pics + "/photo.png"), svg.fileName()}) {
        TProgram viewer({"/view", file});
        EXPECT_TRUE(viewer.WaitForError("pictrel: shown " + file)) << viewer.Errors().toStdString();
        EXPECT_EQ(viewer.Process().state(), QProcess::Running) << file.toStdString();
    }
}

TEST(StartupProcess, RelativeNamesMeanTheFolderTheyWereTypedIn) {
    const QString pics = QDir::tempPath() + "/pics";
    const QString first = MakePicture(pics + "/a/first.png");
    const QString second = MakePicture(pics + "/b/second.png");
    MakePicture(pics + "/a/second.png"); // what the viewer's own folder would give
    TProgram viewer({"/view", "first.png"}, pics + "/a");
    ASSERT_TRUE(viewer.WaitForError("pictrel: open " + first)) << viewer.Errors().toStdString();

    TProgram handOff({"/view", ".//second.png"}, pics + "/b");
    EXPECT_EQ(handOff.Finish(), 0) << handOff.Errors().toStdString();
    EXPECT_EQ(NewFileName(), second);
    EXPECT_TRUE(viewer.WaitForError("pictrel: open " + second)) << viewer.Errors().toStdString();
    EXPECT_EQ(viewer.Opened(), (QStringList{first, second}));
}

struct TEmptyStartCase {
    const char* Name;
    QString Argument; // below the temporary folder; empty: no file argument
};

class StartupEmptyViewerTest : public ::testing::TestWithParam<TEmptyStartCase> {};

// The first instance opens nothing and writes nothing to the store.
TEST_P(StartupEmptyViewerTest, OpensNothing) {
    QDir().mkpath(QDir::tempPath() + "/pics/folder.png");
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(layout::kProgramKey, true));
        reg.DeleteValue(layout::kNewFileName);
        reg.CloseKey();
    }
    QStringList args{"/view"};
    if (!GetParam().Argument.isEmpty()) args.append(QDir::tempPath() + GetParam().Argument);
    TProgram viewer(args);
    ASSERT_TRUE(WaitForSocket(viewer));
    EXPECT_EQ(NewFileName(), "<absent>");
    // Our own hand-off of the empty name shows when the viewer is up and what it opened.
    ASSERT_TRUE(AskUntilTaken()) << viewer.Errors().toStdString();
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !viewer.Opened().isEmpty(); }));
    pictrel::test::PumpFor(50);
    for (const QString& opened : viewer.Opened()) EXPECT_EQ(opened, QString());
}

INSTANTIATE_TEST_SUITE_P(Arguments, StartupEmptyViewerTest,
                         ::testing::Values(TEmptyStartCase{"NoFile", {}},
                                           TEmptyStartCase{"MissingFile", "/no such file.jpg"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A start that finds the marker held but nobody listening yet keeps asking.
TEST(StartupProcess, HandOffWaitsForAnInstanceThatIsStillStarting) {
    TInstanceLock marker("Pictrel"); // the instance still building its windows
    ASSERT_TRUE(marker.Held());
    // A socket left by a process that is gone: the start removes it when it asks.
    QProcess gone;
    gone.start("/bin/true");
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 gonePid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished());
    const QString stale = HandOffSocketPath(gonePid);
    {
        QFile file(stale);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString picture = MakePicture(QDir::tempPath() + "/pics/early.png");
    TProgram handOff({"/view", picture});
    // It has asked once and found nobody.
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !QFile::exists(stale); }, 15000))
        << handOff.Errors().toStdString();
    EXPECT_EQ(NewFileName(), picture);

    int asked = 0;
    THandOffServer receiver;
    receiver.OnMessage = [&]() -> std::uint32_t {
        ++asked;
        return kHandOffAccepted;
    };
    ASSERT_TRUE(receiver.Listen());
    EXPECT_EQ(handOff.FinishPumping(), 0);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(handOff.Errors().contains("pictrel: handed over " + picture))
        << handOff.Errors().toStdString();
}

// The token a launcher gave the start goes along, for the viewer to come to the front with.
TEST(StartupProcess, HandOffPassesTheLaunchersActivationTokenOn) {
    TInstanceLock marker("Pictrel");
    ASSERT_TRUE(marker.Held());
    QList<QByteArray> tokens;
    THandOffServer receiver;
    receiver.OnMessage = [] { return kHandOffAccepted; };
    receiver.OnActivationToken = [&](const QByteArray& token) { tokens.append(token); };
    ASSERT_TRUE(receiver.Listen());
    QProcessEnvironment env;
    env.insert("XDG_ACTIVATION_TOKEN", "launcher_42");
    TProgram handOff({"/view", MakePicture(QDir::tempPath() + "/pics/token.png")}, {}, env);
    EXPECT_EQ(handOff.FinishPumping(), 0) << handOff.Errors().toStdString();
    EXPECT_EQ(tokens, QList<QByteArray>{"launcher_42"});
}

// A file manager opening several pictures starts one process per file at once.
TEST(StartupProcess, SimultaneousStartsLeaveOneViewerShowingTheLastHandOff) {
    constexpr int kStarts = 5;
    QStringList files;
    for (int i = 0; i < kStarts; ++i)
        files.append(MakePicture(QDir::tempPath() + QString("/pics/many/%1.png").arg(i)));
    std::vector<std::unique_ptr<TProgram>> starts;
    for (const QString& file : files)
        starts.push_back(std::make_unique<TProgram>(QStringList{"/view", file}));
    const auto running = [&] {
        return int(std::count_if(starts.begin(), starts.end(), [](const auto& p) {
            return p->Process().state() != QProcess::NotRunning;
        }));
    };
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return running() == 1; }, 40000))
        << "still running: " << running();
    pictrel::test::PumpFor(200);
    ASSERT_EQ(running(), 1);
    EXPECT_EQ(SocketCount(), 1);

    TProgram* viewer = nullptr;
    for (int i = 0; i < kStarts; ++i) {
        TProgram& start = *starts[std::size_t(i)];
        if (start.Process().state() != QProcess::NotRunning) {
            viewer = &start;
            continue;
        }
        // Every other start handed its file over and was answered.
        EXPECT_EQ(start.Finish(), 0);
        EXPECT_TRUE(start.Errors().contains("pictrel: handed over " + files[i]))
            << start.Errors().toStdString();
    }
    ASSERT_NE(viewer, nullptr);
    // Starts take turns, so the name left in the store is the last one handed over.
    const QString last = NewFileName();
    EXPECT_TRUE(files.contains(last)) << last.toStdString();
    EXPECT_TRUE(pictrel::test::PumpUntil([&] {
        return !viewer->Opened().isEmpty() && viewer->Opened().last() == last;
    })) << viewer->Errors().toStdString();
    pictrel::test::PumpFor(50);
    EXPECT_EQ(viewer->Opened().last(), last);
}

// A logout's SIGTERM ends the viewer as closing it does: a normal exit, not a kill.
TEST(StartupProcess, TerminationEndsTheRunAsClosingDoes) {
    const QString picture = MakePicture(QDir::tempPath() + "/pics/term.png");
    TProgram viewer({"/view", picture});
    ASSERT_TRUE(viewer.WaitForError("pictrel: shown " + picture)) << viewer.Errors().toStdString();
    ::kill(pid_t(viewer.Process().processId()), SIGTERM);
    EXPECT_EQ(viewer.Finish(), 0) << viewer.Errors().toStdString();
    EXPECT_TRUE(viewer.Errors().contains("pictrel: ending on signal 15"));
}

TEST(StartupProcess, AFileNobodyTakesIsShownByItsOwnStart) {
    TProgram wizard({"/wizard"});
    ASSERT_TRUE(WaitForSocket(wizard));
    const QString picture = MakePicture(QDir::tempPath() + "/pics/w.png");
    TProgram start({"/view", picture});
    // The wizard's hidden viewer declines; the start opens its own viewer on the file.
    EXPECT_TRUE(start.WaitForError("pictrel: shown " + picture)) << start.Errors().toStdString();
    EXPECT_FALSE(wizard.Errors().contains("pictrel: open"));
    EXPECT_EQ(NewFileName(), picture);
}

TEST(StartupProcess, AFolderShowsItsFirstPictureAlsoWhenHandedOver) {
    const QString folder = QDir::tempPath() + "/pics/several";
    MakePicture(folder + "/img_10.png");
    MakePicture(folder + "/IMG_2.png");
    TProgram viewer({"/view", folder});
    EXPECT_TRUE(viewer.WaitForError("pictrel: shown " + folder + "/IMG_2.png"))
        << viewer.Errors().toStdString();
    ASSERT_TRUE(WaitForSocket(viewer));
    const QString other = QDir::tempPath() + "/pics/other";
    MakePicture(other + "/b.png");
    MakePicture(other + "/a.png");
    TProgram handOff({"/view", other});
    EXPECT_EQ(handOff.Finish(), 0) << handOff.Errors().toStdString();
    EXPECT_TRUE(viewer.WaitForError("pictrel: shown " + other + "/a.png"))
        << viewer.Errors().toStdString();
}

TEST(StartupProcess, KilledViewerNeverBlocksTheNextStart) {
    auto killed = std::make_unique<TProgram>(QStringList{"/view"});
    ASSERT_TRUE(WaitForSocket(*killed));
    const QString staleSocket = SocketOf(*killed);
    ::kill(pid_t(killed->Process().processId()), SIGKILL);
    killed->Process().waitForFinished(5000);
    killed.reset();
    ASSERT_TRUE(QFile::exists(staleSocket)); // left behind by the kill

    {
        // Our probe holds the lock too while it lives, so it goes before the next start.
        TInstanceLock probe("Pictrel");
        EXPECT_FALSE(probe.ExistedBefore());
    }
    const QString picture = MakePicture(QDir::tempPath() + "/pics/after-kill.png");
    TProgram next({"/view", picture});
    EXPECT_TRUE(next.WaitForError("pictrel: open " + picture)) << next.Errors().toStdString();
    EXPECT_EQ(next.Process().state(), QProcess::Running);

    // A hand-off that meets the dead socket first (it looks newest) removes it and
    // goes on to the live viewer.
    ASSERT_TRUE(WaitForSocket(next));
    const struct timeval future[2] = {{::time(nullptr) + 60, 0}, {::time(nullptr) + 60, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(staleSocket).constData(), future), 0);
    const QString again = MakePicture(QDir::tempPath() + "/pics/again.png");
    TProgram handOff({"/view", again});
    EXPECT_EQ(handOff.Finish(), 0);
    EXPECT_FALSE(QFile::exists(staleSocket));
    EXPECT_TRUE(next.WaitForError("pictrel: open " + again)) << next.Errors().toStdString();
}

struct TNoWindowCase {
    const char* Name;
    QStringList Args;
};

class StartupNoWindowTest : public ::testing::TestWithParam<TNoWindowCase> {};

TEST_P(StartupNoWindowTest, EndsAtOnceWithUsage) {
    TProgram program(GetParam().Args);
    EXPECT_EQ(program.Finish(), 0);
    EXPECT_TRUE(program.Errors().startsWith("usage: pictrel")) << program.Errors().toStdString();
    EXPECT_FALSE(QFile::exists(SocketOf(program)));
}

INSTANTIATE_TEST_SUITE_P(Arguments, StartupNoWindowTest,
                         ::testing::Values(TNoWindowCase{"BareFileName", {"picture.jpg"}},
                                           TNoWindowCase{"DashView", {"-view", "a.jpg"}},
                                           TNoWindowCase{"NoSlash", {"view"}},
                                           TNoWindowCase{"Help", {"--help"}}),
                         [](const auto& info) { return std::string(info.param.Name); });

bool Registered(const QString& ext) {
    TRegistry reg(TRegRoot::rrClassesRoot);
    return reg.KeyExists("\\Pictrel." + ext);
}

TEST(StartupProcess, RegJpgPngOwnReg) {
    TProgram program({"/reg", "jpg", "png", "/ownreg"});
    EXPECT_EQ(program.Finish(), 0) << program.Errors().toStdString();
    EXPECT_TRUE(Registered("jpg"));
    EXPECT_TRUE(Registered("png"));
    EXPECT_TRUE(Registered("VekSS"));
    TRegistry reg(TRegRoot::rrClassesRoot);
    ASSERT_TRUE(reg.OpenKey("\\Pictrel.jpg\\shell\\open\\command", false));
    EXPECT_EQ(reg.ReadString({}),
              QString("\"%1\" /view \"%2\"").arg(QFileInfo(PICTREL_EXE).absoluteFilePath(), "%1"));
    EXPECT_TRUE(
        QFile::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/applications/pictrel.desktop"));
}

TEST(StartupProcess, RegOwnRegOnlyAndRegAlone) {
    TRegistry reg(TRegRoot::rrClassesRoot);
    reg.DeleteKey("\\Pictrel.VekSS");
    reg.CloseKey();
    const QStringList before = reg.GetKeyNames();
    TProgram alone({"/reg"});
    EXPECT_EQ(alone.Finish(), 0);
    EXPECT_EQ(reg.GetKeyNames(), before);
    TProgram own({"/reg", "/ownreg"});
    EXPECT_EQ(own.Finish(), 0);
    const QStringList after = reg.GetKeyNames().filter("Pictrel.");
    EXPECT_EQ(after, (before.filter("Pictrel.") + QStringList{"Pictrel.VekSS"}));
}

TEST(StartupProcess, UnregTakesTheLoadersWholeList) {
    TProgram reg({"/reg", "png", "bmp", "/ownreg"});
    ASSERT_EQ(reg.Finish(), 0);
    TProgram unreg({"/unreg", "png"});
    EXPECT_EQ(unreg.Finish(), 0) << unreg.Errors().toStdString();
    EXPECT_FALSE(Registered("png"));
    EXPECT_FALSE(Registered("bmp")); // not named, but in the loader's list
    EXPECT_TRUE(Registered("VekSS"));
    TProgram notOwn({"/unreg", "x", "/ownunreg"});
    EXPECT_EQ(notOwn.Finish(), 0);
    EXPECT_TRUE(Registered("VekSS"));
    TProgram own({"/unreg", "/ownunreg"});
    EXPECT_EQ(own.Finish(), 0);
    EXPECT_FALSE(Registered("VekSS"));
}

TEST(StartupProcess, FailedRegistrationIsNotReportedAsSuccess) {
    TProgram program({"/reg", "ok", "bad\\ext", "after"});
    EXPECT_EQ(program.Finish(), 1);
    EXPECT_TRUE(program.Errors().contains("registration stopped"))
        << program.Errors().toStdString();
    EXPECT_TRUE(Registered("ok"));
    EXPECT_FALSE(Registered("after"));
}

} // namespace
