#pragma once

#include "gfx/Bitmap32.h"

#include <QPixmap>
#include <QString>

#include <functional>
#include <memory>

// The small pictures compiled into the program: toolbar icons, separators, hover
// highlights, the clock frames and the scroll marker. Names match without regard to
// case; a picture name is a base name, optionally followed by its size in pixels
// ("zBack32", "zSeparator16", "zClock3").

// Loads the named picture: the bitmap takes its size and its ARGB pixels. False (and
// the bitmap unchanged) when there is no picture of that name. At a `scale` other than
// 1 the picture is drawn that much larger (each side rounded), as sharp as at its own
// size: the layers draw their pictures so at the view's device pixel ratio.
bool LoadPngResource(TBitmap32& bitmap, const QString& name, double scale = 1.0);
// The named picture for a widget (an icon, a label's picture); null when there is none.
// GUI thread only.
[[nodiscard]] QPixmap LoadResourcePixmap(const QString& name);
// A multi-size icon by its base name alone, drawn into a transparent size x size
// bitmap; false when there is none (the bitmap is then transparent all the same).
bool LoadIconResource(TBitmap32& bitmap, const QString& name, int size);
// The scroll marker of the text panels: a white shape whose opacity follows the
// brightness of the "zButton" picture (drawn at `scale`).
void LoadMarkerResource(TBitmap32& bitmap, double scale = 1.0);
// The disabled look: red, green and blue become the picture's luma (BT.709 weights in
// 8.24 fixed point), alpha stays. An empty bitmap is left alone.
void GreyOut(TBitmap32& bitmap);

// Loads "<name><size>" off the GUI thread into a bitmap of its own and moves it into
// `target` on the GUI thread, then calls `done`. The picture is found as a PNG-named
// picture, else as an icon of the base name drawn at size x size; a picture missing in
// every form leaves `target` a transparent size x size square. At a `scale` other than
// 1 the same picture is drawn that much larger (size x scale, rounded).
//
// Destroying the loader waits for its worker and drops a completion that has not run
// yet; it may be destroyed from inside `done`.
class TResourceLoader {
public:
    TResourceLoader(TBitmap32& target, std::function<void()> done, int size,
                    const QString& baseName, double scale = 1.0);
    ~TResourceLoader();
    TResourceLoader(const TResourceLoader&) = delete;
    TResourceLoader& operator=(const TResourceLoader&) = delete;

    // True once the picture is in `target` (the completion has run).
    [[nodiscard]] bool Finished() const;

private:
    struct TShared;
    std::shared_ptr<TShared> m_shared;
};
