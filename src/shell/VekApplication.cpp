#include "shell/VekApplication.h"

#include <QMessageBox>

#include <cstdio>
#include <exception>

TVekApplication::TVekApplication(int& argc, char** argv)
    : QApplication(argc, argv), ReportError(&TVekApplication::ShowErrorMessage) {}

bool TVekApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Report(QString::fromUtf8(e.what()));
    } catch (...) {
        Report(QStringLiteral("An unexpected error occurred."));
    }
    return false;
}

void TVekApplication::Report(const QString& message) {
    // The box runs an event loop; a handler that fails again under it must not
    // pile up boxes, so those errors go to standard error.
    if (m_reporting || !ReportError) {
        std::fprintf(stderr, "pictrel: %s\n", message.toLocal8Bit().constData());
        return;
    }
    m_reporting = true;
    try {
        ReportError(message);
    } catch (...) {
        std::fprintf(stderr, "pictrel: %s\n", message.toLocal8Bit().constData());
    }
    m_reporting = false;
}

void TVekApplication::ShowErrorMessage(const QString& message) {
    // Without a parent the box is centred on the screen.
    QMessageBox::critical(nullptr, QStringLiteral("Pictrel"), message);
}
