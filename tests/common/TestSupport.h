#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <QString>

#include <functional>
#include <memory>
#include <ostream>

namespace pictrel::test {

// Makes the application object the test binary runs under: a plain QApplication
// unless a test file of the binary sets this during static initialisation (for
// tests that need the program's own application object).
using TApplicationFactory = std::unique_ptr<QApplication> (*)(int& argc, char** argv);
extern TApplicationFactory ApplicationFactory;

// Runs the GUI event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
// Used to wait for deliveries to the GUI thread, never to measure time.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Runs the GUI event loop for about `ms` milliseconds.
void PumpFor(int ms);

// Writes a mono 16-bit WAV of `seconds` of a 440 Hz tone; false when it cannot be written.
bool WriteWav(const QString& path, double seconds);

} // namespace pictrel::test

// Readable failure messages for Qt strings (and lists of them).
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
