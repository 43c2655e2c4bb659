#pragma once

#include "authoring/VekSettingsFile.h"

// The one slideshow description all windows share. It is created at program start,
// before any window, and freed at exit; GUI thread only.

// The shared description; null before CreateCurrentSlideshow and after FreeCurrentSlideshow.
[[nodiscard]] TVekSettingsFile* CurrentSlideshow();

// Creates the shared description (a fresh one, replacing any earlier one).
void CreateCurrentSlideshow();

// Frees the shared description.
void FreeCurrentSlideshow();
