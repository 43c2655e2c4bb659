#pragma once

#include <QObject>

// Keeps tool windows (Qt::Tool: the viewer's simple-mode frame) out of the taskbar
// and the pager. Qt gives them the window manager's utility type only, which many
// taskbars list all the same, so the window manager is told each time a top-level
// window shows: a tool window is to be left out, a normal window or a dialog to be
// listed (in case its native window was shown as a tool window before). Install it
// on the application; it does nothing where there is no window manager to tell.
class TToolWindowHints : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
