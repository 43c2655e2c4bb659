#pragma once

#include <QString>

#include <functional>

// A value the user set could not be stored: said on standard error every time, and
// once per run through the handler (a message box "Settings could not be saved:
// <reason>" while the windows are up; none is set while they go away).
void ReportStoreFailure(const QString& reason);

// The handler of the first failure of the run; empty: standard error only.
void SetStoreFailureHandler(std::function<void(const QString& message)> handler);

// Forgets that a failure was shown (for tests).
void ResetStoreFailureShown();
