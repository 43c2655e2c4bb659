#include "viewer/FormViewerActions.h"

#include "layers/MenuIcons.h"
#include "platform/VirtualKeys.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

namespace {

constexpr std::uint16_t kDeleteKey = 46; // the virtual-key code of Delete
constexpr std::uint16_t kPageUpKey = 33, kPageDownKey = 34;

bool ModifierAlone(std::uint16_t shortcut) {
    switch (shortcut) {
    case vkShift:
    case vkControl:
    case vkMenu:
    case vkLShift:
    case vkRShift:
    case vkLControl:
    case vkRControl:
    case vkLMenu:
    case vkRMenu:
        return true;
    default:
        return false;
    }
}

bool IsModifierKey(int qtKey) {
    return qtKey == Qt::Key_Shift || qtKey == Qt::Key_Control || qtKey == Qt::Key_Alt ||
           qtKey == Qt::Key_AltGr || qtKey == Qt::Key_Meta;
}

bool Runnable(const QAction* action) {
    return action->isEnabled() && action->isVisible();
}

} // namespace

TViewerActions::TViewerActions(QWidget& window, TMenuIcons& icons)
    : m_window(window), m_icons(icons) {
    const auto make = [&](QAction*& action, const char* caption, std::string_view icon = {}) {
        action = new QAction(QString::fromLatin1(caption), &window);
        if (!icon.empty()) m_icons.Attach(action, icon);
    };
    make(OpenAction, "Open", "OpenImage");
    make(PreviousAction, "Previous image", "Previous");
    make(NextAction, "Next image", "Next");
    make(ZoomInAction, "Zoom in");
    make(ZoomOutAction, "Zoom out");
    make(ZoomFitAction, "Fit width", "ZoomFit16");
    make(ZoomRealAction, "Actual size", "ZoomNo16");
    make(RotateLeftAction, "Rotate left", "RotateLeft");
    make(RotateRightAction, "Rotate right", "RotateRight");
    make(PrevPageAction, "Previous page", "PreviousFrame");
    make(NextPageAction, "Next page", "NextFrame");
    make(DeleteAction, "Delete");
    make(CopyAction, "Copy");
    make(CopyPathAction, "Copy path");
    make(ExitAction, "Exit", "Exit");
    make(SlideShowAction, "Start slideshow", "SlideShow");
    make(WizardSlideShowAction, "Start wizard", "SlideShowWizard");
    make(SettingsAction, "Pictrel settings", "Settings");
    make(PrintAction, "Print", "Print");
    PrintAction->setVisible(false);
    make(OptimalWallpaperAction, "optimal");
    make(TileWallpaperAction, "tile");
    make(CenterWallpaperAction, "center");
    make(StretchWallpaperAction, "stretch");
    make(WallpaperAction, "Set as wallpaper", "Desktop");
    QObject::connect(WallpaperAction, &QAction::triggered, OptimalWallpaperAction,
                     &QAction::trigger);
    make(OpenEditAction, "Edit", "Edit");
    make(PropertiesAction, "Image properties", "Properties");
    make(HelpAction, "Help", "Help");
    make(SimpleModeAction, "Simple mode");
    WizardSlideShowAction->setEnabled(false);
    SettingsAction->setEnabled(false);
    SlideShowAction->setEnabled(false);
}

void TViewerActions::BuildMenus(const std::vector<QAction*>& panelEntries) {
    ImageTBXPopupMenu = new QMenu(&m_window);
    for (QAction* entry : panelEntries) ImageTBXPopupMenu->addAction(entry);
    WallpaperTBXSubmenu = new QMenu(QStringLiteral("Set as wallpaper"), &m_window);
    WallpaperTBXSubmenu->addAction(OptimalWallpaperAction);
    WallpaperTBXSubmenu->addSeparator();
    WallpaperTBXSubmenu->addActions(
        {TileWallpaperAction, CenterWallpaperAction, StretchWallpaperAction});
    m_icons.Attach(WallpaperTBXSubmenu->menuAction(), "Desktop");
    ImageTBXPopupMenu->addSeparator();
    ImageTBXPopupMenu->addMenu(WallpaperTBXSubmenu);
    ImageTBXPopupMenu->addSeparator();
    ImageTBXPopupMenu->addActions({ZoomFitAction, ZoomRealAction});
    SimpleModeTBXPopupMenu = new QMenu(&m_window);
    SimpleModeTBXPopupMenu->addMenu(WallpaperTBXSubmenu);
    for (QMenu* menu : {ImageTBXPopupMenu, SimpleModeTBXPopupMenu}) {
        menu->addSeparator();
        menu->addActions({OpenEditAction, CopyAction, CopyPathAction, DeleteAction, PrintAction});
        menu->addSeparator();
        menu->addAction(SimpleModeAction);
        menu->addSeparator();
        menu->addAction(SettingsAction);
        menu->addSeparator();
        menu->addAction(ExitAction);
    }
}

void TViewerActions::ApplyShortcuts(const TDialogStoreValues& v) {
    m_pending = {};
    m_shortcuts = {
        {PreviousAction, {v.ShortcutLeft, v.ShortcutLeft2}},
        {NextAction, {v.ShortcutRight, v.ShortcutRight2}},
        {RotateLeftAction, {v.ShortcutRotateLeft}},
        {RotateRightAction, {v.ShortcutRotateRight}},
        {ZoomFitAction, {v.ShortcutFitToPage}},
        {ZoomRealAction, {v.ShortcutActual}},
        {ZoomInAction, {v.ShortcutZoomIn}},
        {ZoomOutAction, {v.ShortcutZoomOut}},
        {DeleteAction, {kDeleteKey}},
        {CopyAction, {MakeShortcut('C', false, true, false)}},
        {CopyPathAction, {MakeShortcut('C', true, true, false)}},
        {OpenAction, {MakeShortcut('O', false, true, false)}},
        {PrevPageAction, {kPageUpKey}},
        {NextPageAction, {kPageDownKey}},
        {SimpleModeAction, {v.ShortcutSimpleMode}},
    };
    std::vector<std::uint16_t> seen;
    for (const TShortcut& s : m_shortcuts)
        for (std::uint16_t k : s.Keys) {
            if (k == 0) continue;
            if (std::find(seen.begin(), seen.end(), k) != seen.end())
                std::fprintf(stderr, "pictrel: the key %s is given to more than one command\n",
                             ShortcutToText(k).toLocal8Bit().constData());
            else
                seen.push_back(k);
        }
    for (const TShortcut& s : m_shortcuts)
        s.Action->setToolTip(s.Action->text() + QStringLiteral(" (") + ShortcutToText(s.Keys[0]) +
                             u')');
}

bool TViewerActions::KeyPress(const QKeyEvent& event, bool typing) {
    if (event.isAutoRepeat() && m_pending.Action) return true;
    m_pending = {};
    if (typing) return false;
    for (const TShortcut& s : m_shortcuts)
        for (std::uint16_t k : s.Keys) {
            if (k == 0 || !ShortcutMatches(k, event)) continue;
            if (ModifierAlone(k))
                m_pending = TPendingKey{s.Action, k};
            else if (Runnable(s.Action))
                s.Action->trigger();
            return true;
        }
    return false;
}

bool TViewerActions::KeyRelease(const QKeyEvent& event) {
    const TPendingKey pending = m_pending;
    if (!pending.Action || event.isAutoRepeat()) return false;
    if (ShortcutMatches(pending.Key, event)) {
        m_pending = {};
        if (Runnable(pending.Action)) pending.Action->trigger();
        return true;
    }
    // Another modifier coming up leaves the lone key pending: input tools type right
    // Shift as left Shift down, right Shift down, left Shift up, right Shift up.
    if (!IsModifierKey(event.key())) m_pending = {};
    return false;
}

void TViewerActions::Update(const TState& s) {
    SlideShowAction->setEnabled(s.CanPlay);
    PreviousAction->setVisible(s.Several);
    NextAction->setVisible(s.Several);
    for (QAction* a :
         {ZoomInAction, ZoomOutAction, ZoomRealAction, RotateLeftAction, RotateRightAction})
        a->setEnabled(s.ImageLoaded);
    ZoomFitAction->setEnabled(s.ImageLoaded && !s.FitMode);
    DeleteAction->setVisible(s.ImageLoaded);
    // These name the file on screen: not while another one is on its way.
    for (QAction* a : {DeleteAction, PrintAction, OpenEditAction, CopyAction, CopyPathAction})
        a->setEnabled(s.ShownIsCurrent);
    CopyAction->setVisible(s.ImageLoaded);
    CopyPathAction->setVisible(s.ImageLoaded);
    PrintAction->setVisible(s.ImageLoaded);
    WallpaperAction->setVisible(s.ImageLoaded);
    OpenEditAction->setVisible(s.ImageLoaded);
    for (QAction* a : {OptimalWallpaperAction, TileWallpaperAction, CenterWallpaperAction,
                       StretchWallpaperAction})
        a->setEnabled(s.ImageLoaded && !s.SettingWallpaper);
}

void TViewerActions::SetSimpleMode(bool on) {
    for (QAction* a :
         {ZoomFitAction, ZoomRealAction, NextAction, PreviousAction, ZoomInAction, ZoomOutAction})
        a->setEnabled(!on);
    SimpleModeAction->setText(on ? QStringLiteral("Normal mode") : QStringLiteral("Simple mode"));
}
