#pragma once

#include <QString>

// The per-user runtime folder for our lock file and hand-off sockets:
// $XDG_RUNTIME_DIR, or a private folder /tmp/pictrel-<uid> (mode 0700) when the
// variable is unset or names no usable folder. Empty when neither can be had.
[[nodiscard]] QString RuntimeFolder();
