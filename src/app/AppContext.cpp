#include "app/AppContext.h"

#include <QCoreApplication>

void TAppContext::WindowClosed(const QObject* window, bool accepted) const {
    if (accepted && IsMainWindow(window)) QCoreApplication::quit();
}

void TAppContext::Clear() {
    m_mainWindow = nullptr;
}
