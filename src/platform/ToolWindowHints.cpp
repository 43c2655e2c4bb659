#include "platform/ToolWindowHints.h"

#include "platform/WindowSystem.h"

#include <QEvent>
#include <QMetaObject>
#include <QVariant>
#include <QWindow>

bool TToolWindowHints::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show || !watched->isWindowType()) return false;
    auto* window = static_cast<QWindow*>(watched);
    if (!window->isTopLevel()) return false;
    // Menus, tool tips and the like are no taskbar's business.
    const Qt::WindowType type = window->type();
    if (type != Qt::Tool && type != Qt::Window && type != Qt::Dialog) return false;
    // A window that never skipped the taskbar has nothing to take back: no request (and
    // no round trip to the X server) while the first picture is on its way.
    static constexpr char kSkipping[] = "pictrelSkipsTaskbar";
    const bool skip = type == Qt::Tool;
    if (!skip && !window->property(kSkipping).toBool()) return false;
    window->setProperty(kSkipping, skip);
    // The show event comes before the native window maps; the window manager takes the
    // request once it manages the window, so it is sent after the mapping.
    QMetaObject::invokeMethod(
        window, [window, skip] { SetSkipTaskbar(*window, skip); }, Qt::QueuedConnection);
    return false;
}
