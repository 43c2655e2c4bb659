#pragma once

#include "show/VekSettingsFile.h"

// The slideshow values kept in the settings store. The description itself is owned
// by the composition root (shell) and lent to the windows; GUI thread only.

// Puts the stored slideshow values (delay, effect, music shuffle and repeat) into
// `slideshow`, each only when stored. A delay below 0 or above a day, or a stored
// value of the wrong type, leaves the description's own; an unknown effect name
// gives a random effect.
void ReadStoredSlideshowValues(TVekSettingsFile& slideshow);
// Stores those four values of `slideshow`; throws ERegistryError on failure.
void StoreSlideshowValues(const TVekSettingsFile& slideshow);
