#pragma once

#include "app/ThreadedTimer.h"
#include "gfx/Bitmap32.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>

class TAppContext;

// The viewer window. For now it shows the opened picture fitted into the window
// with the linear resampler (read with Qt's own readers); the layered view and
// the loader replace that.
//
// The hand-off: while visible, a hand-off message is answered with 13 and the
// file named by "New file name" is opened from `OpenViewerTimer` (1 ms) after the
// reply has gone; `MessageTimer` (10 ms) then brings the window to the front.
// With PICTREL_TRACE_OPEN set, every OpenFile call prints "pictrel: open <path>"
// on standard error.
class TMainForm : public QWidget {
public:
    explicit TMainForm(TAppContext& context);
    ~TMainForm() override;

    QString FileToOpen;
    TThreadedTimer OpenViewerTimer;
    TThreadedTimer MessageTimer;

    void OpenFile(const QString& path);
    // The reply to a hand-off message: 13 when taken, 0 while hidden.
    std::uint32_t HandOffMessage();

    // Every file OpenFile was asked for, in order.
    [[nodiscard]] const QStringList& OpenedFiles() const { return m_openedFiles; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OpenViewerTimerTimer();
    void MessageTimerTimer();

    TAppContext& m_context;
    TBitmap32 m_picture;
    QStringList m_openedFiles;
};
