// The slideshow window's effect ticks on the GUI thread, while a 24-megapixel JPEG is
// decoded over and over by another loader (the worst case of a decode ahead).
//
// Part 1, per screen size and effect: the GUI thread's time of each tick (the step
// drawn, then the paint box repainted and put on the screen at once), median and
// worst over two whole transitions, against the 26 ms budget of a tick, and against a
// memcpy of one frame measured in the same run.
// Part 2: a show of PICTREL_BENCH_SHOW_SECONDS (default 60) seconds at 3840 x 2160 with
// the random effect and no delay: how late the ticks come (the time between two ticks
// minus 26 ms), median, p99 and worst, and the count of ticks more than one tick late.
//
// Runs on a private Xvfb display of 3840 x 2160 (so the repaint includes a real X11
// blit) when there is no display and Xvfb is installed, else where QT_QPA_PLATFORM says
// (offscreen by default).
#include "app/AppContext.h"
#include "gfx/PaintBox32Widget.h"
#include "loading/FreeImagePtr.h"
#include "loading/FreeImageSetup.h"
#include "loading/VekImageLoaderPro.h"
#include "show/TransformerByName.h"
#include "show/VekSettingsFile.h"
#include "slideshow/FormVekSlideShow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

// The slideshow description the window plays (the composition root's in the program).
TVekSettingsFile& Slideshow() {
    static TVekSettingsFile slideshow;
    return slideshow;
}

using Clock = std::chrono::steady_clock;
constexpr double kBudgetMs = 26.0;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = std::size_t(std::lround(p * double(v.size() - 1)));
    return v[std::min(i, v.size() - 1)];
}

void WritePhoto(const QString& path, int w, int h, int seed) {
    TFreeImagePtr dib(FreeImage_Allocate(w, h, 24));
    std::minstd_rand rng{unsigned(seed)};
    for (int y = 0; y < h; ++y) {
        BYTE* p = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < w; ++x, p += 3) {
            const int grain = int(rng() % 17) - 8;
            const auto clamp = [](int v) { return BYTE(v < 0 ? 0 : v > 255 ? 255 : v); };
            p[FI_RGBA_RED] = clamp((x * 255) / w + grain + seed * 40);
            p[FI_RGBA_GREEN] = clamp(128 + int(100.0 * std::sin(x * 0.003 + y * 0.002)) + grain);
            p[FI_RGBA_BLUE] = clamp((y * 255) / h - grain);
        }
    }
    FreeImage_Save(FIF_JPEG, dib.get(), QFile::encodeName(path).constData(),
                   JPEG_SUBSAMPLING_420 | 90);
}

double FrameCopyMs(int w, int h) {
    const std::size_t bytes = std::size_t(w) * std::size_t(h) * 4;
    std::vector<char> a(bytes, 1), b(bytes, 0);
    std::vector<double> t;
    for (int i = 0; i < 15; ++i) {
        const auto s = Clock::now();
        std::memcpy(b.data(), a.data(), bytes);
        t.push_back(Ms(Clock::now() - s));
    }
    return Percentile(t, 0.5);
}

// Keeps a 24-megapixel decode running on another loader's worker all the time.
class TBackgroundDecode {
public:
    explicit TBackgroundDecode(const QString& file) : m_file(file) {
        m_loader.OnSucces = [this](TVekImageLoaderPro&) { Again(); };
        m_loader.OnError = [this](TVekImageLoaderPro&) { Again(); };
        m_loader.Open(m_file);
    }
    ~TBackgroundDecode() {
        m_stopped = true;
        m_loader.Cancel();
    }
    int Decodes = 0;

private:
    void Again() {
        ++Decodes;
        if (!m_stopped) m_loader.Open(m_file);
    }
    QString m_file;
    TVekImageLoaderPro m_loader;
    bool m_stopped = false;
};

struct TTicks {
    std::vector<double> Work;     // GUI-thread time of each tick
    std::vector<double> Lateness; // time between ticks minus the interval
};

// Runs the show with `effect` until `transitions` transitions (or `seconds`) have passed.
// The show window at exactly w x h in the screen's corner (no window manager here).
void ShowAt(TSlideShowForm& form, int w, int h) {
    form.show();
    form.setWindowState(Qt::WindowNoState);
    form.setGeometry(0, 0, w, h);
    form.PaintBox32->setGeometry(0, 0, w, h);
    form.PaintBox32->FitBuffer();
}

TTicks RunShow(TSlideShowForm& form, const char* effect, int transitions, double seconds) {
    Slideshow().Transformer = TransformerByName(QString::fromLatin1(effect));
    TTicks ticks;
    int ended = 0;
    Clock::time_point last{};
    form.EffectThreadedTimer.OnTimer = [&](TThreadedTimer&) {
        const auto start = Clock::now();
        if (last != Clock::time_point{})
            ticks.Lateness.push_back(std::max(0.0, Ms(start - last) - kBudgetMs));
        last = start;
        const int stepBefore = form.Model.Step;
        form.EffectThreadedTimerTimer();
        form.PaintBox32->repaint();
        ticks.Work.push_back(Ms(Clock::now() - start));
        if (stepBefore > 0 && form.Model.Step == 0) {
            ++ended;
            last = {};
        }
    };
    const auto until = Clock::now() + std::chrono::milliseconds(qint64(seconds * 1000));
    while (ended < transitions && Clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return ticks;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(v, home.path().toLocal8Bit());
    QProcess xvfb;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        for (int display = 91; !program.isEmpty() && display < 100; ++display) {
            const QString name = QStringLiteral(":%1").arg(display);
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display))) continue;
            xvfb.start(program, {name, QStringLiteral("-screen"), QStringLiteral("0"),
                                 QStringLiteral("3840x2160x24"), QStringLiteral("-nolisten"),
                                 QStringLiteral("tcp")});
            if (!xvfb.waitForStarted(5000)) break;
            for (int i = 0;
                 i < 50 && !QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)); ++i)
                QThread::msleep(100);
            qputenv("DISPLAY", name.toLatin1());
            qputenv("QT_QPA_PLATFORM", "xcb");
            break;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const TFreeImageSetup freeImage;
    QApplication app(argc, argv);

    const QString pictures = home.path() + QStringLiteral("/pictures");
    QDir().mkpath(pictures);
    std::printf("writing the test pictures (6000 x 4000 JPEG)...\n");
    WritePhoto(pictures + QStringLiteral("/a.jpg"), 6000, 4000, 1);
    WritePhoto(pictures + QStringLiteral("/b.jpg"), 6000, 4000, 2);
    const QString decodeFile = home.path() + QStringLiteral("/decode.jpg");
    QFile::copy(pictures + QStringLiteral("/a.jpg"), decodeFile);

    const int sizes[][2] = {{1920, 1080}, {3840, 2160}};
    const char* const effects[] = {"No effect",     "Blend", "Slide",
                                   "Diagonal roll", "Rain",  "Random"};
    std::printf("\n%-14s %-10s %8s %8s %8s %10s %8s\n", "effect", "screen", "median", "worst",
                "budget", "worst/copy", "over");
    for (const auto& size : sizes) {
        const double copy = FrameCopyMs(size[0], size[1]);
        for (const char* effect : effects) {
            TAppContext context;
            Slideshow().ImageList = {pictures};
            Slideshow().Delay = 0;
            TSlideShowForm form(context, Slideshow());
            ShowAt(form, size[0], size[1]);
            TBackgroundDecode decode(decodeFile);
            const TTicks ticks = RunShow(form, effect, 3, 30);
            if (form.PaintBox32->Buffer().Width() != size[0])
                std::printf("(the screen holds only %dx%d)\n", form.PaintBox32->width(),
                            form.PaintBox32->height());
            const int over = int(std::count_if(ticks.Work.begin(), ticks.Work.end(),
                                               [](double ms) { return ms > kBudgetMs; }));
            const double worst = Percentile(ticks.Work, 1.0);
            std::printf("%-14s %4dx%-5d %7.2fms %7.2fms %7.0fms %10.1f %5d/%d\n", effect, size[0],
                        size[1], Percentile(ticks.Work, 0.5), worst, kBudgetMs, worst / copy, over,
                        int(ticks.Work.size()));
            form.close();
        }
        std::printf("%-14s %4dx%-5d %7.2fms (memcpy of one frame, the baseline)\n", "copy", size[0],
                    size[1], copy);
    }

    const double seconds = qEnvironmentVariableIsSet("PICTREL_BENCH_SHOW_SECONDS")
                               ? qEnvironmentVariable("PICTREL_BENCH_SHOW_SECONDS").toDouble()
                               : 60.0;
    {
        TAppContext context;
        Slideshow().ImageList = {pictures};
        Slideshow().Delay = 0;
        TSlideShowForm form(context, Slideshow());
        ShowAt(form, 3840, 2160);
        TBackgroundDecode decode(decodeFile);
        const TTicks ticks = RunShow(form, "Random", 1 << 30, seconds);
        const int late = int(std::count_if(ticks.Lateness.begin(), ticks.Lateness.end(),
                                           [](double ms) { return ms > kBudgetMs; }));
        std::printf("\n%.0f s show at 3840x2160, Random, a 24 MP decode running throughout "
                    "(%d decodes):\n",
                    seconds, decode.Decodes);
        std::printf("  ticks %zu, work median %.2f ms, p99 %.2f ms, worst %.2f ms\n",
                    ticks.Work.size(), Percentile(ticks.Work, 0.5), Percentile(ticks.Work, 0.99),
                    Percentile(ticks.Work, 1.0));
        std::printf("  lateness median %.2f ms, p99 %.2f ms, worst %.2f ms; ticks more than one "
                    "tick late: %d\n",
                    Percentile(ticks.Lateness, 0.5), Percentile(ticks.Lateness, 0.99),
                    Percentile(ticks.Lateness, 1.0), late);
        form.close();
    }
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }
    return 0;
}
