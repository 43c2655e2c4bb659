// Hand-off latency: from the launch of a second "pictrel /view <file>" to the
// running viewer's OpenFile, against a start of the same program that ends at once
// (a bare file name), measured in the same run. Runs on the offscreen platform
// with private XDG folders.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString program = QCoreApplication::applicationDirPath() + "/../pictrel";
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "bench_handoff: %s not found\n", qPrintable(program));
        return 1;
    }
    QTemporaryDir root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = root.path() + '/' + name;
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(name, dir);
    }
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PICTREL_TRACE_OPEN", "1");
    const QString picture = root.path() + "/p.png";
    QImage(32, 32, QImage::Format_RGB32).save(picture);

    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.start(program, {"/view"});
    const QString socket =
        env.value("XDG_RUNTIME_DIR") + "/pictrel-" + QString::number(viewer.processId());
    for (int i = 0; i < 2000 && !QFile::exists(socket); ++i) QThread::msleep(5);
    if (!QFile::exists(socket)) {
        std::fprintf(stderr, "bench_handoff: the viewer did not start\n");
        return 1;
    }

    const int rounds = 30;
    std::vector<double> baseline, handOff;
    QByteArray seen;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        QProcess bare;
        bare.setProcessEnvironment(env);
        bare.setStandardErrorFile(QProcess::nullDevice());
        timer.start();
        bare.start(program, {"bare.jpg"});
        bare.waitForFinished(10000);
        baseline.push_back(timer.nsecsElapsed() / 1e6);

        const QString name = picture + "?" + QString::number(i); // a distinct name per round
        const QByteArray expect = "pictrel: open " + name.toLocal8Bit() + '\n';
        QProcess second;
        second.setProcessEnvironment(env);
        timer.start();
        second.start(program, {"/view", name});
        while (!seen.contains(expect) && timer.elapsed() < 10000) {
            viewer.waitForReadyRead(1);
            seen += viewer.readAllStandardError();
        }
        handOff.push_back(timer.nsecsElapsed() / 1e6);
        second.waitForFinished(10000);
    }
    viewer.kill();
    viewer.waitForFinished();
    const double b = Median(baseline), h = Median(handOff);
    std::printf("start that ends at once (baseline): median %.1f ms\n", b);
    std::printf("hand-off to the running viewer's OpenFile: median %.1f ms\n", h);
    std::printf("hand-off adds %.1f ms (ratio %.2f) over %d rounds\n", h - b, h / b, rounds);
    return 0;
}
