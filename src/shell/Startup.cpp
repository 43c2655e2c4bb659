#include "shell/Startup.h"

#include "app/DialogStoreValues.h"
#include "app/FileAssociations.h"
#include "app/FileHelpers.h"
#include "app/RotateAngleList.h"
#include "app/SettingsLayout.h"
#include "app/StoreFailure.h"
#include "app/ViewerStoreValues.h"
#include "authoring/FormVekWizard.h"
#include "gfx/ViewerZoom.h"
#include "loading/DecoderPool.h"
#include "loading/EarlyImageLoad.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageFilter.h"
#include "platform/HandOff.h"
#include "platform/HandOffServer.h"
#include "platform/InstanceLock.h"
#include "platform/Registry.h"
#include "platform/SignalQuit.h"
#include "platform/ToolWindowHints.h"
#include "platform/WindowSystem.h"
#include "shell/CompositionRoot.h"
#include "shell/VekApplication.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

namespace {

// The loader's comma-separated list of readable extensions, split: what "/unreg"
// unregisters.
QStringList LoaderExtensionList() {
    return GetImageFilter(true, true, true, false).split(',', Qt::SkipEmptyParts);
}

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args.append(QString::fromLocal8Bit(argv[i]));
    return args;
}

int RunRegistration(const TCommandLine& line) {
    try {
        switch (line.Role) {
        case TStartRole::srReg:
            if (line.RegisterOwnType) RegisterOwnType();
            RegisterExtensions(line.RegExtensions);
            break;
        case TStartRole::srUnreg:
            if (line.UnregisterOwnType) UnregisterOwnType();
            UnregisterExtensions(LoaderExtensionList());
            break;
        case TStartRole::srOwnReg:
            RegisterOwnType();
            break;
        case TStartRole::srOwnUnreg:
            UnregisterOwnType();
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        // Success is not reported for a run that stopped half-way.
        std::fprintf(stderr, "pictrel: registration stopped: %s\n", e.what());
        return 1;
    }
    return 0;
}

// True when a running viewer took the file.
bool RunHandOff(const TCommandLine& line, TInstanceLock& instanceLock) {
    // Starts in the same instant take turns, so the viewer reads each one's own name.
    const THandOffTurn turn;
    try {
        TRegistry reg;
        reg.OpenKey(layout::kProgramKey, true);
        reg.WriteString(layout::kNewFileName, line.FileArgument);
        reg.CloseKey();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pictrel: %s\n", e.what());
    }
    // The instance that holds the marker may still be building its windows. A launcher
    // on Wayland hands its activation token to the program it starts; it is passed on,
    // so that the viewer taking the file may come to the front (a compositor gives
    // the focus only to a window that shows a token).
    const THandOffResult result = SendHandOffMessageRetrying(
        kHandOffRetryMs, [&instanceLock] { return instanceLock.HeldByOthers(); }, kHandOffTimeoutMs,
        qgetenv("XDG_ACTIVATION_TOKEN"));
    if (result.Reply == kHandOffAccepted && qEnvironmentVariableIsSet("PICTREL_TRACE_OPEN"))
        std::fprintf(stderr, "pictrel: handed over %s\n",
                     line.FileArgument.toLocal8Bit().constData());
    return result.Reply == kHandOffAccepted;
}

int RunWindows(int& argc, char** argv, const TCommandLine& line) {
    // The viewer's first picture decodes while the toolkit starts; the viewer's loader
    // takes the result (the request is the one the viewer makes).
    std::optional<TEarlyImageLoad> firstPicture;
    if (const QString file = ViewerStartFile(line); !file.isEmpty() && QFileInfo(file).isFile()) {
        TImageLoadRequest request;
        request.FileName = FolderOf(file) + QFileInfo(file).fileName();
        request.Settings.HalfSize = true;
        const TDialogStoreValues dialog = TDialogStoreValues::Load();
        request.Settings.ExifOrientation = dialog.ExifOrientation;
        request.Settings.ColourManagement = dialog.ColourManagement;
        // Drawn for the window's stored size too, so that the first paint only copies.
        const TViewerStoreValues window = TViewerStoreValues::Load(0, 0);
        if (window.WindowState != 2) {
            TRotateAngleList angles;
            angles.LoadFromFile(DataFolder() + QStringLiteral("RotateAngles"));
            request.Prepare = MakeFitPreparation(window.Width, window.Height,
                                                 angles.Angle(request.FileName), dialog.FilterKind);
            // A large photo is first decoded reduced, and shown while the rest follows.
            request.Quick.Width = window.Width;
            request.Quick.Height = window.Height;
        }
        firstPicture.emplace(std::move(request));
    } else {
        // A decoder helper starts beside the toolkit (the first picture's load starts
        // its own).
        TDecoderPool::Instance().Warm();
    }
    TVekApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TToolWindowHints toolWindowHints;
    app.installEventFilter(&toolWindowHints);

    // Reachable before the windows exist, so a start in the same instant finds
    // this instance; it gets its answer once the main window shows.
    THandOffServer handOff;
    // The windows of the run, wired to each other (see CompositionRoot.cpp); they go
    // before the hand-off server.
    TCompositionRoot root;
    handOff.HoldReplies(true);
    handOff.OnMessage = [&root]() -> std::uint32_t {
        TMainForm* viewer = root.Viewer();
        return viewer ? viewer->HandOffMessage() : 0;
    };
    // Qt's Wayland windows take the environment's token on their next activation: the
    // viewer's raise, which follows the accepted hand-off; Qt removes it once used.
    handOff.OnActivationToken = [](const QByteArray& token) {
        if (OnWayland()) qputenv("XDG_ACTIVATION_TOKEN", token);
    };
    if (!handOff.Listen())
        std::fprintf(stderr, "pictrel: no hand-off socket; later starts cannot hand files over\n");

    TMainForm* mainForm = nullptr;
    TWizardForm* wizardForm = nullptr;
    TSlideShowForm* slideShowForm = nullptr;
    const auto viewer = [&] { mainForm = &root.MakeViewer(); };
    const auto wizard = [&] { wizardForm = &root.MakeWizard(); };
    const auto slideshow = [&] { slideShowForm = &root.MakeSlideShow(); };
    const auto settings = [&] { root.MakeSettings(); };

    QWidget* mainWindow = nullptr;
    switch (line.Role) {
    case TStartRole::srView:
        viewer();
        // The first picture is what the user waits for: its decode starts before the
        // other windows are made and runs while the window maps. A folder shows its
        // first picture.
        if (const QString file = ViewerStartFile(line); !file.isEmpty()) {
            mainForm->OpenFile(file);
            TEarlyImageLoad::WhenQuickLook(
                [viewer = QPointer<TMainForm>(mainForm)](const QString& f, TDrawnPicture&& d) {
                    if (viewer) viewer->ShowQuickLook(f, std::move(d));
                });
        }
        wizard(), slideshow(), settings();
        mainWindow = mainForm;
        break;
    case TStartRole::srSlideshow:
        slideshow(), settings(), viewer();
        mainWindow = slideShowForm;
        break;
    default: // no argument, "/wizard"
        // The wizard and its show turn pictures as the viewer does.
        wizard(), slideshow(), settings(), viewer();
        mainWindow = wizardForm;
        break;
    }
    root.Context().SetMainWindow(mainWindow);

    if (line.Role == TStartRole::srWizard && !line.FileArgument.isEmpty()) {
        wizardForm->OpenInWizard(line.FileArgument);
    } else if (line.Role == TStartRole::srSlideshow && !line.FileArgument.isEmpty()) {
        try {
            slideShowForm->OpenSlideshowFile(line.FileArgument);
        } catch (const std::exception& e) {
            // A damaged slideshow file: said so, and the run ends without a window.
            const QString message = QString::fromUtf8(e.what());
            std::fprintf(stderr, "pictrel: %s\n", e.what());
            // Under the offscreen platform (scripts, tests) nobody could close a box.
            if (QGuiApplication::platformName() != QLatin1String("offscreen") && app.ReportError)
                app.ReportError(message);
            root.Clear();
            return 1;
        }
    }

    QGuiApplication::setApplicationDisplayName(QStringLiteral("Pictrel"));
    mainWindow->show();
    handOff.HoldReplies(false);
    // A logout or a kill ends the run as closing the main window does: the windows go
    // and keep what they hold.
    const TSignalQuit quitOnSignal([](int signal) {
        std::fprintf(stderr, "pictrel: ending on signal %d\n", signal);
        QApplication::quit();
    });
    // The first failure to store a value is told while the windows are up.
    SetStoreFailureHandler([](const QString& message) {
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QMessageBox::warning(nullptr, QStringLiteral("Pictrel"), message);
    });
    const int code = QApplication::exec();

    // Nothing reaches the windows once they start to go.
    SetStoreFailureHandler(nullptr);
    handOff.OnMessage = nullptr;
    handOff.OnActivationToken = nullptr;
    root.Clear();
    return code;
}

} // namespace

QString ViewerStartFile(const TCommandLine& line) {
    if (line.Role != TStartRole::srView || line.FileArgument.isEmpty()) return {};
    // A file or a folder, or a link to one; reading a pipe or a device could block
    // the loader.
    const QFileInfo info(line.FileArgument);
    return info.isFile() || info.isDir() ? line.FileArgument : QString();
}

int PictrelMain(int argc, char** argv) {
    // A hand-off peer that goes away mid-reply must not end this process.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("Pictrel"));
    const TFreeImageSetup freeImage; // once for the process, before any loader runs
    TInstanceLock instanceLock;
    // Relative names are resolved here: a viewer that takes one over works elsewhere.
    const TCommandLine line = TCommandLine::Parse(ArgumentsOf(argc, argv), QDir::currentPath());

    switch (line.Role) {
    case TStartRole::srReg:
    case TStartRole::srUnreg:
    case TStartRole::srOwnReg:
    case TStartRole::srOwnUnreg: {
        QCoreApplication app(argc, argv);
        return RunRegistration(line);
    }
    case TStartRole::srView:
        if (instanceLock.ExistedBefore()) {
            bool handed = false;
            {
                QCoreApplication app(argc, argv);
                handed = RunHandOff(line, instanceLock);
            }
            // Nobody took the file in time (the other instance hangs, or its viewer is
            // hidden behind the wizard): it is shown here rather than lost.
            if (handed || ViewerStartFile(line).isEmpty()) return 0;
            std::fprintf(stderr, "pictrel: no running viewer took the file; opening it here\n");
        }
        return RunWindows(argc, argv, line);
    case TStartRole::srWizardNoArgs:
    case TStartRole::srWizard:
    case TStartRole::srSlideshow:
        return RunWindows(argc, argv, line);
    case TStartRole::srNone:
        break;
    }
    std::fprintf(stderr, "%s\n", kUsageLine);
    return 0;
}
