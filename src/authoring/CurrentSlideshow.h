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

// Puts the stored slideshow values (delay, effect, music shuffle and repeat) into
// `slideshow`, each only when stored. A delay below 0 or above a day, or a stored
// value of the wrong type, leaves the description's own; an unknown effect name
// gives a random effect.
void ReadStoredSlideshowValues(TVekSettingsFile& slideshow);
// Stores those four values of `slideshow`; throws ERegistryError on failure.
void StoreSlideshowValues(const TVekSettingsFile& slideshow);
