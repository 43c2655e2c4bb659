// Runs the real program: roles, registration switches, and the hand-off between
// two processes on the offscreen platform. Every child inherits the test's
// private XDG folders.
#include "app/FileAssociations.h"
#include "app/SettingsLayout.h"
#include "common/TestSupport.h"
#include "platform/HandOff.h"
#include "platform/InstanceLock.h"
#include "platform/Registry.h"
#include "platform/RuntimeFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <csignal>
#include <ctime>
#include <memory>
#include <sys/time.h>

namespace {

// A started program whose standard error is collected.
class TProgram {
public:
    explicit TProgram(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("PICTREL_TRACE_OPEN", "1");
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
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
        if (!m_process.waitForFinished(ms)) return -1;
        Errors();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
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

TEST(StartupProcess, FirstViewWithMissingFileWritesNothing) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(layout::kProgramKey, true));
        reg.DeleteValue(layout::kNewFileName);
        reg.CloseKey();
    }
    TProgram viewer({"/view", QDir::tempPath() + "/no such file.jpg"});
    ASSERT_TRUE(WaitForSocket(viewer));
    pictrel::test::PumpFor(100);
    EXPECT_FALSE(viewer.Errors().contains("pictrel: open")) << viewer.Errors().toStdString();
    EXPECT_EQ(NewFileName(), "<absent>");
}

TEST(StartupProcess, HiddenViewerOfTheWizardTakesNothing) {
    TProgram wizard({"/wizard"});
    ASSERT_TRUE(WaitForSocket(wizard));
    const QString picture = MakePicture(QDir::tempPath() + "/pics/w.png");
    TProgram handOff({"/view", picture});
    EXPECT_EQ(handOff.Finish(), 0);
    pictrel::test::PumpFor(100);
    EXPECT_FALSE(wizard.Errors().contains("pictrel: open"));
    // The name stays in the store.
    EXPECT_EQ(NewFileName(), picture);
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
