#pragma once

#include "loading/FreeImageSetup.h"
#include "loading/ImageLimits.h"
#include "loading/VekImageLoaderPro.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace pictrel::fuzz {

// The offscreen Qt application a fuzz target's code needs, made once. It lives until
// the process ends: destroying it from libFuzzer's exit handlers, after Qt's own
// globals have gone, crashes.
inline void StartApplication() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // QCoreApplication keeps a reference to argc, so it gets one that outlives it.
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* const app = std::make_unique<QCoreApplication>(argc, argv).release();
    (void)app;
}

// The application, FreeImage and a picture size limit within libFuzzer's 2 GB RSS
// budget (the limit follows the memory available: a large header is refused instead of
// ending the run out of memory).
inline void StartDecoding() {
    StartApplication();
    EnsureFreeImage();
    SetAvailableMemoryForTesting(std::uint64_t(1) << 30);
}

// The input after its first byte as the file `dir`/input.`ext`.
inline QString WriteInput(const QTemporaryDir& dir, const char* ext, const std::uint8_t* data,
                          std::size_t size) {
    const QString file = dir.path() + "/input." + ext;
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    f.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1));
    return file;
}

// Loads `file` through `loader`, its worker and its delivery on this thread included.
inline void LoadAndWait(TVekImageLoaderPro& loader, const QString& file) {
    bool finished = false;
    loader.OnSucces = [&](TVekImageLoaderPro&) { finished = true; };
    loader.OnError = [&](TVekImageLoaderPro&) { finished = true; };
    loader.Open(file);
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (!finished) QThread::usleep(20);
    }
}

// What the loader-driven targets share: decoding started, a private folder, one loader.
struct TLoaderTarget {
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<TVekImageLoaderPro> Loader;

    void Start() {
        StartDecoding();
        Dir = std::make_unique<QTemporaryDir>();
        Loader = std::make_unique<TVekImageLoaderPro>();
    }
    // The input as a file of the extension its first byte picks, loaded and waited for.
    // False for an input too short to pick one.
    template <std::size_t N>
    bool Load(const std::uint8_t* data, std::size_t size, const char* const (&extensions)[N]) {
        if (size < 1) return false;
        LoadAndWait(*Loader, WriteInput(*Dir, extensions[data[0] % N], data, size));
        return true;
    }
};

} // namespace pictrel::fuzz
