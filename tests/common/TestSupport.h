#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

namespace pictrel::test {

// Runs the GUI event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
// Used to wait for deliveries to the GUI thread, never to measure time.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Runs the GUI event loop for about `ms` milliseconds.
void PumpFor(int ms);

} // namespace pictrel::test
