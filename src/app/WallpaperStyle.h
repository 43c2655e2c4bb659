#pragma once

#include <cstdint>

// How a picture is laid on the desktop as its wallpaper (the stored layout values).
enum class TWallpaperStyle : std::uint8_t {
    wsTile = 0,
    wsCenter = 1,
    wsStretch = 2,
    wsOptimal = 3
};
