#pragma once

#include "gfx/Bitmap32.h"

#include <QString>

#include <vector>

// Small helpers the windows share: the audio file filter, the colour swatches of
// the histogram menu, the program's folder and opening a web address.

// With `dialog`, the open-dialog filter of the audio files we play; without, the
// extension set their names are matched against ("mp3, wma, wav").
[[nodiscard]] QString AudioFilter(bool dialog);

// Four 14 x 14 swatches in red, dark green, blue and grey whose five outer
// one-pixel rings fade out (alphas 0, 50, 100, 250, 200 from the outside in).
[[nodiscard]] std::vector<TBitmap32> ColourSwatches();

// ProgramFolder() comes with the file helpers.
#include "app/FileHelpers.h"

// Opens `address` in the desktop's browser (or the handler of its scheme); false
// when the address is not a valid URL or nothing could open it.
bool OpenUrl(const QString& address);
