// Adding a folder of 10,000 pictures to the wizard on the offscreen platform: how long
// the window's thread is kept from its events at most, and how long until the list is
// complete, against listing the same folder on the window's thread (what a window that
// lists by itself would freeze for), measured in the same run.
//
//   bench_wizard_folder [files]      (default 10000; 5 rounds each, medians shown)
#include "../OffscreenHome.h"
#include "app/AppContext.h"
#include "authoring/FormVekWizard.h"
#include "authoring/ImageTreeModel.h"
#include "show/VekSettingsFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The slideshow description the wizard edits (the composition root's in the program).
TVekSettingsFile& Slideshow() {
    static TVekSettingsFile slideshow;
    return slideshow;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct TRound {
    double LongestStall = 0; // ms between two ticks of a 1 ms timer, at most
    double Complete = 0;     // ms until the list holds every file
};

TRound AddFolder(TAppContext& context, const QString& folder, int files) {
    TWizardForm form(context, Slideshow());
    form.show();
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
    QElapsedTimer clock;
    double last = 0;
    TRound round;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        round.LongestStall = std::max(round.LongestStall, now - last);
        last = now;
    });
    clock.start();
    ticker.start();
    form.AddImages({folder}, false);
    const auto rows = [&] {
        const TImageTreeModel* model = form.ImageModel;
        return model->rowCount() > 0 ? model->rowCount(model->index(0, 0)) : 0;
    };
    while (rows() < files) QApplication::processEvents(QEventLoop::AllEvents, 1);
    round.Complete = clock.nsecsElapsed() / 1e6;
    // The first repaint of the full list belongs to the work too.
    QApplication::processEvents();
    const double now = clock.nsecsElapsed() / 1e6;
    round.LongestStall = std::max(round.LongestStall, now - last);
    return round;
}

double ListOnThisThread(const QString& folder) {
    QElapsedTimer clock;
    clock.start();
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("*.jpg"), QStringLiteral("*.png")}, QDir::Files);
    std::fprintf(stderr, "%s", names.isEmpty() ? "nothing listed\n" : "");
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const TOffscreenHome home;
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("pictures"));
    QDir().mkpath(folder);
    for (int i = 0; i < files; ++i) {
        QFile f(folder + QStringLiteral("/p%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly)) return 1;
    }
    TAppContext context;
    std::vector<double> stalls, complete, listing;
    for (int r = 0; r < 5; ++r) {
        listing.push_back(ListOnThisThread(folder));
        const TRound round = AddFolder(context, folder, files);
        stalls.push_back(round.LongestStall);
        complete.push_back(round.Complete);
    }
    std::printf("Adding a folder of %d pictures to the wizard (medians of 5):\n", files);
    std::printf("  longest stall of the window's thread  %8.1f ms\n", Median(stalls));
    std::printf("  until the list is complete            %8.1f ms\n", Median(complete));
    std::printf("  baseline: listing it on that thread   %8.1f ms\n", Median(listing));
    return 0;
}
