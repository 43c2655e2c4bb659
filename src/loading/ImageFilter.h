#pragma once

#include <QString>
#include <QStringList>

// The 30 Camera RAW extensions the RAW decoder is offered, in filter order.
[[nodiscard]] const QStringList& CameraRawExtensions();

// The open-dialog filter (`DialogFilter` true: "All files|*.*|" followed by the
// secondary registry's formats, the FreeImage formats they do not cover, and Camera
// RAW) or the comma-separated list of readable extensions (false), from the sources
// that are switched on, in that order. A FreeImage format with an extension already
// listed is left out.
[[nodiscard]] QString GetImageFilter(bool UseFreeImage, bool UseSecondary, bool UseRaw,
                                     bool DialogFilter);

// The comma-separated extensions of every readable picture (all sources), worked out once:
// it asks every decoder what it reads. Safe on any thread.
[[nodiscard]] const QString& ImageExtensions();

// A "Text|*.a;*.b|..." filter as the toolkit's file dialogs take it: "Text (*.a *.b);;...".
// A text that already ends in its patterns in brackets keeps only its words before them.
[[nodiscard]] QString FileDialogFilter(const QString& pairs);
