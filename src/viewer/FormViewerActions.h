#pragma once

#include "app/DialogStoreValues.h"

#include <cstdint>
#include <vector>

class QAction;
class QKeyEvent;
class QMenu;
class QWidget;
class TMenuIcons;

// The viewer's commands as actions: their captions, icons and keys, and the menus over
// the picture. What each command does is connected by the window; here is what the
// user sees of it and which key runs it.
//
// Stored shortcuts are virtual-key values (a lone Shift key among them), so keys are
// matched here rather than by Qt's shortcut map. A modifier alone (left Shift turns
// left) acts when it comes up without another key pressed meanwhile, so holding Shift
// for another shortcut does not turn.
class TViewerActions {
public:
    TViewerActions(QWidget& window, TMenuIcons& icons);

    QAction* OpenAction = nullptr;
    QAction* PreviousAction = nullptr;
    QAction* NextAction = nullptr;
    QAction* ZoomInAction = nullptr;
    QAction* ZoomOutAction = nullptr;
    QAction* ZoomFitAction = nullptr;
    QAction* ZoomRealAction = nullptr;
    QAction* RotateLeftAction = nullptr;
    QAction* RotateRightAction = nullptr;
    QAction* PrevPageAction = nullptr;
    QAction* NextPageAction = nullptr;
    QAction* DeleteAction = nullptr;
    // The picture (Ctrl+C) and its path (Ctrl+Shift+C) to the clipboard.
    QAction* CopyAction = nullptr;
    QAction* CopyPathAction = nullptr;
    QAction* ExitAction = nullptr;
    // Their windows are reached through the viewer's ports; disabled without them.
    QAction* SlideShowAction = nullptr;
    QAction* WizardSlideShowAction = nullptr;
    QAction* SettingsAction = nullptr;
    // "Simple mode" / "Normal mode".
    QAction* SimpleModeAction = nullptr;
    QAction* PrintAction = nullptr;
    // "Set as wallpaper" runs the optimal one; the submenu offers all four.
    QAction* WallpaperAction = nullptr;
    QAction* OptimalWallpaperAction = nullptr;
    QAction* TileWallpaperAction = nullptr;
    QAction* CenterWallpaperAction = nullptr;
    QAction* StretchWallpaperAction = nullptr;
    QMenu* WallpaperTBXSubmenu = nullptr;
    QAction* OpenEditAction = nullptr;
    // Do nothing when executed.
    QAction* PropertiesAction = nullptr;
    QAction* HelpAction = nullptr;
    // The picture's menu (right button over the picture) and simple mode's.
    QMenu* ImageTBXPopupMenu = nullptr;
    QMenu* SimpleModeTBXPopupMenu = nullptr;

    // Fills the picture's menus: `panelEntries` (the panels' show commands) first in
    // the normal one, then the commands.
    void BuildMenus(const std::vector<QAction*>& panelEntries);

    // The keys of `values`; a key given to two actions runs the first (said once on
    // standard error). Each action's tool tip names its first key.
    void ApplyShortcuts(const TDialogStoreValues& values);
    // A key pressed or released: true when a shortcut took it (or holds it as a lone
    // modifier). A shortcut runs only when its action is enabled and visible; none
    // runs while the user is `typing` (the keys are text then).
    bool KeyPress(const QKeyEvent& event, bool typing);
    bool KeyRelease(const QKeyEvent& event);

    // What the commands show for the window's state.
    struct TState {
        bool Several = false;        // the list holds more than one picture
        bool ImageLoaded = false;    // a picture is on screen
        bool FitMode = true;         // it is fitted to the window
        bool ShownIsCurrent = false; // it is the list's current entry
        bool SettingWallpaper = false;
        bool CanPlay = false; // a slideshow can start
    };
    void Update(const TState& state);
    // Simple mode's frame has no zoom and no steps, and its command says "Normal mode".
    void SetSimpleMode(bool on);

private:
    struct TShortcut {
        QAction* Action;
        std::vector<std::uint16_t> Keys;
    };
    // A modifier-alone shortcut whose key is down; it runs when the key comes up.
    struct TPendingKey {
        QAction* Action = nullptr;
        std::uint16_t Key = 0;
    };

    QWidget& m_window;
    TMenuIcons& m_icons;
    std::vector<TShortcut> m_shortcuts;
    TPendingKey m_pending;
};
