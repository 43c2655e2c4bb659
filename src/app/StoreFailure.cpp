#include "app/StoreFailure.h"

#include <cstdio>

namespace {

std::function<void(const QString&)>& Handler() {
    static std::function<void(const QString&)> handler;
    return handler;
}

bool g_shown = false;

} // namespace

void ReportStoreFailure(const QString& reason) {
    const QString message = QStringLiteral("Settings could not be saved: ") + reason;
    std::fprintf(stderr, "pictrel: %s\n", message.toLocal8Bit().constData());
    if (g_shown || !Handler()) return;
    g_shown = true;
    // A copy: the handler may run a dialog's event loop, during which it may be replaced.
    const auto handler = Handler();
    handler(message);
}

void SetStoreFailureHandler(std::function<void(const QString& message)> handler) {
    Handler() = std::move(handler);
}

void ResetStoreFailureShown() {
    g_shown = false;
}
