#pragma once

#include "app/BackgroundWork.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

// Writes the association grid's outcome (ApplyAssociations) on a worker thread, so
// OK returns at once however many types change. The pointer shows busy while a run
// takes longer than kBusyDelayMs. A run asked for while one is going waits for it;
// only the newest waiting one is kept (it holds the whole grid). Create, use and
// destroy on the GUI thread; destroying waits for the run in progress and does the
// waiting one, so no change of the grid is lost at exit.
class TAssociationWriter {
public:
    static constexpr int kBusyDelayMs = 200;
    // Called on the GUI thread when a run ends: the reason it failed, empty on success.
    using TDone = std::function<void(const QString& error)>;

    TAssociationWriter();
    ~TAssociationWriter();
    TAssociationWriter(const TAssociationWriter&) = delete;
    TAssociationWriter& operator=(const TAssociationWriter&) = delete;

    void Start(QStringList associate, QStringList release, TDone done = {});
    [[nodiscard]] bool Busy() const { return m_running; }
    // Until every asked run has ended and reported (for callers that must read the
    // result, such as tests).
    void Wait();

private:
    struct TRequest {
        QStringList Associate;
        QStringList Release;
        TDone Done;
    };
    void Launch(TRequest request);
    void Finished(const QString& error, const TDone& done);
    void ShowBusy(bool busy);

    std::optional<TRequest> m_waiting;
    bool m_running = false;
    bool m_busyShown = false;
    QTimer m_busyTimer;
    TBackgroundWork m_work;
};
