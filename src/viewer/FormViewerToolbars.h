#pragma once

#include "app/BackgroundWork.h"

#include <QString>

#include <functional>
#include <memory>

class QMenu;
class QWidget;
class TColorLayer;
class TLayerCollection;
class TProgressbarLayer;
class TTlButton;
class TTlItem;
class TTlLabel;
class TToolbarLayer;
class TViewerActions;

// The viewer's buttons on the picture: the main toolbar along the bottom, the page
// toolbar of multi-page files at the top, and the layers drawn with them (the tint
// and the "Opening..." box). A button runs its action as a menu item would.
class TViewerToolbars {
public:
    // The main toolbar's buttons, left to right.
    enum class TButton {
        Back,
        Next,
        FitWidth,
        ActualSize,
        RotateLeft,
        RotateRight,
        SlideShow,
        Wizard,
        Settings,
        Exit
    };

    // The layers join `layers` after those already there. `imageShown` tells the bars
    // whether a picture is on screen; `pick` shows the page chosen from the page menu.
    TViewerToolbars(TLayerCollection& layers, QWidget& window, const TViewerActions& actions,
                    std::function<bool()> imageShown, std::function<void(int page)> pick);
    ~TViewerToolbars();
    TViewerToolbars(const TViewerToolbars&) = delete;
    TViewerToolbars& operator=(const TViewerToolbars&) = delete;

    std::unique_ptr<TColorLayer> TintLayer;
    std::unique_ptr<TProgressbarLayer> ProgressPanel;
    std::unique_ptr<TToolbarLayer> MainToolbar;
    std::unique_ptr<TToolbarLayer> PagesToolbar;
    // The page number between the page toolbar's buttons; a click opens the page menu.
    TTlLabel* PageNumberLabel = nullptr;
    QMenu* PagesPopupMenu = nullptr;
    // The page number shown (from 1).
    QString PageLabel;

    [[nodiscard]] TTlButton* Button(TButton button) const;

    // The main bar for the window's state: steps and the slideshow only with several
    // pictures, zoom and turns only with a picture, the other windows' buttons as their
    // commands are; the page bar when `pages` and not in simple mode.
    struct TState {
        bool Several = false;
        bool ImageLoaded = false;
        bool Pages = false;
        bool SimpleMode = false;
    };
    void Update(const TState& state);
    // The page menu lists `count` pages (none when `count` is 0).
    void SetPages(int count);
    // The page number and the page commands for page `index` of `count`.
    void ShowPageNumber(int index, int count, const TState& state);
    // The page menu under the page number.
    void ShowPagesMenu();

    // The "Opening..." box names `file`; with `show` it comes up, and with `thumbnail`
    // the file's thumbnail (turned by `angle`) joins it once a worker has read it,
    // while the box still shows that file.
    void StartOpening(const QString& file, bool show, bool thumbnail, int angle, bool upright);
    // The box goes (the picture, or its error, is there).
    void StopOpening();

private:
    QWidget& m_window;
    const TViewerActions& m_actions;
    std::function<void(int page)> m_pick;
    TTlButton* m_buttons[10] = {};
    // The separator after the steps, shown with them.
    TTlItem* m_stepsSeparator = nullptr;
    TTlButton* m_previousPage = nullptr;
    TTlButton* m_nextPage = nullptr;
    // The page bar is wanted (a file of several pages is shown).
    bool m_pages = false;
    // The file the "Opening..." box is up for, and the reading of its thumbnail.
    QString m_opening;
    TBackgroundWork m_thumbnailWork;
};
