#pragma once

#include <QByteArray>

class QWindow;

// What the windowing system lets the program do with its top-level windows beyond
// Qt's own flags.

// Whether the windows are a Wayland compositor's.
[[nodiscard]] bool OnWayland();

// Whether the program places its top-level windows itself and learns where they are.
// Not on Wayland: the compositor places every window, a client sees its windows at
// 0,0, and moving one is the compositor's job (QWindow::startSystemMove). A place
// read there is no place to store.
[[nodiscard]] bool ClientPlacesWindows();

// Whether a whole window can be made translucent (QWidget::setWindowOpacity). Not on
// Wayland: Qt's plugin has no such request, and says so on standard error at every
// call.
[[nodiscard]] bool WindowOpacityWorks();

// Asks the window manager to leave a shown `window` out of the taskbar and the pager
// (X11 _NET_WM_STATE_SKIP_TASKBAR and _SKIP_PAGER), or to list it again. Does nothing
// for a hidden window, nor where there is no such request (Wayland, offscreen).
void SetSkipTaskbar(QWindow& window, bool skip);

// The display's colour profile as the desktop's colour daemon publishes it: on X11 the
// root window's _ICC_PROFILE property. Empty (sRGB) elsewhere, without one, or when it
// cannot be read. GUI thread only.
[[nodiscard]] QByteArray ReadDisplayProfile();
