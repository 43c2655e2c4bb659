#include "app/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

TDeliveryGuard::TDeliveryGuard() : m_alive(std::make_shared<std::atomic<bool>>(true)) {}

bool IsGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

bool PostToGuiThread(TDeliveryGuard::Token token, std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !call) return false;
    // Queued on the application object: if the application goes first, Qt drops the event.
    return QMetaObject::invokeMethod(
        app,
        [token = std::move(token), call = std::move(call)]() {
            if (token && token->load()) call();
        },
        Qt::QueuedConnection);
}
