#pragma once

#include "app/WallpaperStyle.h"
#include "gfx/Bitmap32.h"
#include "gfx/Color32.h"
#include "gfx/Geometry.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Setting the shown picture as the desktop wallpaper: the picture is composed for
// the chosen layout, saved as a BMP file in our data folder, the layout is
// recorded in the store (Control panel\Desktop), and the running desktop's own
// wallpaper setter is told to show the file.

// The largest rectangle at (0, 0) with the source's aspect ratio that fits into
// tw x th, enlarging small sources: tw x MulDiv(sh, tw, sw) when the source is
// relatively wider (sh * tw < sw * th), else MulDiv(sw, th, sh) x th, MulDiv
// rounding to nearest with a 64-bit product. Empty for an empty source or target.
[[nodiscard]] TRect FitRect(int sw, int sh, int tw, int th);

// $XDG_DATA_HOME/Pictrel/ (created if missing).
[[nodiscard]] QString WallpaperFolder();
// Each set saves the picture under a new name, WallpaperFolder() +
// "VekImageViewer Wallpaper <n>.bmp" with n one more than the last, because desktops
// that compare the value they are handed (GNOME does) would keep the old picture for
// the same name. The last two are kept; the desktop may still be reading the older.
// WallpaperFileName: the file the last set wrote (number 1 before any set).
[[nodiscard]] QString WallpaperFileName();
// Every wallpaper file in the folder, oldest first (an unnumbered one from before
// the numbering counts as the oldest).
[[nodiscard]] QStringList WallpaperFiles();

// The opaque picture to save. Optimal: a screenW x screenH bitmap in the dominant
// colour of the picture's free edges, the whole picture Lanczos-resampled into the
// centred FitRect (at least one pixel each way, so no picture vanishes). Other
// styles: the picture at its own size, blended over `desktopColour`. Empty for an
// empty picture, or for optimal without a screen size.
[[nodiscard]] TBitmap32 ComposeWallpaper(const TBitmap32& picture, TWallpaperStyle style,
                                         int screenW, int screenH, TColor32 desktopColour);

// A Windows BMP file (24 bits, bottom-up) of the bitmap's colours; empty when the
// bitmap is empty or too large for the format.
[[nodiscard]] QByteArray EncodeBmp(const TBitmap32& bitmap);

// One program to run. SetsPicture marks the commands that show the file; the
// others only adjust the layout.
struct TWallpaperCommand {
    QStringList Argv;
    bool SetsPicture = false;
    bool operator==(const TWallpaperCommand&) const = default;
};

// The commands that show `file` in `style` on the desktop named by `desktop` (the
// value of XDG_CURRENT_DESKTOP: names separated by ':', the first one known wins,
// case ignored). GNOME, Unity and Budgie: gsettings on org.gnome.desktop.background
// (picture-options, picture-uri, picture-uri-dark); Cinnamon:
// org.cinnamon.desktop.background (picture-options, picture-uri); MATE:
// org.mate.background (picture-options, picture-filename); KDE:
// plasma-apply-wallpaperimage; XFCE: xfconf-query on every "…/last-image" property
// among `xfceProperties` (the channel's property list) and the image-style beside
// it; any other desktop: feh --bg-tile / --bg-center / --bg-scale / --bg-max.
[[nodiscard]] std::vector<TWallpaperCommand>
WallpaperCommands(const QString& desktop, const QString& file, TWallpaperStyle style,
                  const QStringList& xfceProperties = {});

// Composes the picture (see ComposeWallpaper), writes the layout values under the
// current user's "Control panel\Desktop" ("TileWallpaper" and "WallpaperStyle"),
// saves the BMP atomically under the next wallpaper name (removing all but the two
// newest wallpaper files) and runs WallpaperCommands for
// the running desktop, each found on PATH and given a few seconds at most. True
// when a command that shows the picture succeeded; false for an empty picture
// (nothing done), a file that could not be saved, or when every setter failed or
// is missing. Throws ERegistryError when the store cannot be written.
bool SetWallpaper(const TBitmap32& picture, TWallpaperStyle style, int screenW, int screenH,
                  TColor32 desktopColour = clBlack32);
