#include "settings/AssociationWriter.h"

#include "app/FileAssociations.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

#include <cstdio>
#include <exception>

TAssociationWriter::TAssociationWriter() {
    m_busyTimer.setSingleShot(true);
    m_busyTimer.setInterval(kBusyDelayMs);
    QObject::connect(&m_busyTimer, &QTimer::timeout, [this] { ShowBusy(true); });
}

TAssociationWriter::~TAssociationWriter() {
    m_work.Shutdown();
    m_busyTimer.stop();
    if (m_waiting) {
        try {
            ApplyAssociations(m_waiting->Associate, m_waiting->Release);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pictrel: file associations not changed: %s\n", e.what());
        }
    }
    ShowBusy(false);
}

void TAssociationWriter::Start(QStringList associate, QStringList release, TDone done) {
    TRequest request{std::move(associate), std::move(release), std::move(done)};
    if (m_running)
        m_waiting = std::move(request);
    else
        Launch(std::move(request));
}

void TAssociationWriter::Launch(TRequest request) {
    m_running = true;
    m_busyTimer.start();
    m_work.Run(
        [associate = std::move(request.Associate),
         release = std::move(request.Release)](const TJobStop&) {
            QString error;
            try {
                ApplyAssociations(associate, release);
            } catch (const std::exception& e) {
                error = QString::fromLocal8Bit(e.what());
            }
            return error;
        },
        [this, done = request.Done](const QString& error) { Finished(error, done); },
        [this, done = request.Done](const QString& error) { Finished(error, done); });
}

void TAssociationWriter::Finished(const QString& error, const TDone& done) {
    m_running = false;
    if (m_waiting) {
        TRequest next = std::move(*m_waiting);
        m_waiting.reset();
        Launch(std::move(next));
    } else {
        m_busyTimer.stop();
        ShowBusy(false);
    }
    if (done) done(error);
}

void TAssociationWriter::Wait() {
    while (m_running) {
        m_work.WaitForIdle();
        if (QCoreApplication::instance() == nullptr) return; // nothing would deliver the end
        QCoreApplication::sendPostedEvents();
    }
}

void TAssociationWriter::ShowBusy(bool busy) {
    if (busy == m_busyShown ||
        qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    m_busyShown = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}
