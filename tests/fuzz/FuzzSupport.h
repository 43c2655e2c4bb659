#pragma once

#include <QCoreApplication>

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

} // namespace pictrel::fuzz
