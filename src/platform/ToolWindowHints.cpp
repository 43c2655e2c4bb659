#include "platform/ToolWindowHints.h"

#include "platform/WindowSystem.h"

#include <QEvent>
#include <QMetaObject>
#include <QWindow>

bool TToolWindowHints::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show || !watched->isWindowType()) return false;
    auto* window = static_cast<QWindow*>(watched);
    if (!window->isTopLevel()) return false;
    // Menus, tool tips and the like are no taskbar's business.
    const Qt::WindowType type = window->type();
    if (type != Qt::Tool && type != Qt::Window && type != Qt::Dialog) return false;
    // The show event comes before the native window maps; the window manager takes the
    // request once it manages the window, so it is sent after the mapping.
    QMetaObject::invokeMethod(
        window, [window, type] { SetSkipTaskbar(*window, type == Qt::Tool); },
        Qt::QueuedConnection);
    return false;
}
