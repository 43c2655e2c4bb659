#pragma once

#include <QByteArray>

// The display's colour profile as the desktop's colour daemon publishes it: on X11 the
// root window's _ICC_PROFILE property. Empty (sRGB) elsewhere, without one, or when it
// cannot be read. GUI thread only.
[[nodiscard]] QByteArray ReadDisplayProfile();
