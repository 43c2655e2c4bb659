// The viewer's layers over the picture: the panels with their menus and stored
// places, the two toolbars, the "Opening..." box and the menu icons.

#include "app/PanelStoreValues.h"
#include "app/SettingsLayout.h"
#include "app/ShellHelpers.h"
#include "app/VekThreadedMethod.h"
#include "gfx/ImgView32Widget.h"
#include "layers/LayerPaint.h"
#include "layers/ResourceLoader.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekEditLayer.h"
#include "layers/VekHistogramLayer.h"
#include "layers/VekStringListLayer.h"
#include "viewer/FormVekMain.h"

#include <QAction>
#include <QFontDialog>
#include <QImage>
#include <QMenu>
#include <QPixmap>

#include <cstdio>

namespace {

// The icon name list; the actions' icons are given by index into it.
constexpr const char* kIconNames[] = {"OpenImage",
                                      "Properties",
                                      "Previous",
                                      "Next",
                                      "ZoomFit16",
                                      "ZoomNo16",
                                      "RotateLeft",
                                      "RotateRight",
                                      "SlideShow",
                                      "Settings",
                                      "Exit",
                                      "Help",
                                      "PreviousFrame",
                                      "NextFrame",
                                      "Play",
                                      "Pause",
                                      "Cut",
                                      "Copy",
                                      "Paste",
                                      "Delete",
                                      "Font",
                                      "AddImage",
                                      "DeleteImage",
                                      "SelectAllImages",
                                      "InverseSelection",
                                      "Up",
                                      "Down",
                                      "Stop",
                                      "SaveSlideShow",
                                      "LoadSlideShow",
                                      "AddMusic",
                                      "DeleteMusic",
                                      "SelectAllMusic",
                                      "Desktop",
                                      "Edit",
                                      "Print",
                                      "SlideShowWizard"};
constexpr int kIconCount = int(std::size(kIconNames));

// The tint's colour: the button face at alpha 0x7D.
constexpr std::uint8_t kTintAlpha = 0x7D;

// Pixels a panel may stick out of the view before it is pulled back.
int PullInside(int position, int size, int viewSize) {
    if (position < 0) return 0;
    if (position + size > viewSize) return viewSize - size;
    return position;
}

} // namespace

TVekCustomControlLayer* TMainForm::Panel(int panel) const {
    switch (layout::TPanel(panel)) {
    case layout::TPanel::pnComment:
        return CommentPanel.get();
    case layout::TPanel::pnHistogram:
        return HistogramPanel.get();
    case layout::TPanel::pnExif:
        return ExifPanel.get();
    case layout::TPanel::pnIptc:
        return IptcPanel.get();
    case layout::TPanel::pnXmp:
        return XmpPanel.get();
    case layout::TPanel::pnGeoTiff:
        return GeoTiffPanel.get();
    case layout::TPanel::pnInfo:
        return InfoPanel.get();
    default:
        return nullptr;
    }
}

void TMainForm::LoadIcons() {
    // The pictures are drawn on a worker; the GUI thread only turns them into icons.
    auto images = std::make_shared<std::vector<QImage>>();
    LoadIconsVekThreadedMethod = std::make_unique<TVekThreadedMethod>();
    LoadIconsVekThreadedMethod->SetPriority(TThreadPriority::tpLower);
    LoadIconsVekThreadedMethod->OnBody = [images](TVekThreadedMethod&, TThreadForMethod&,
                                                  const TThreadedMethodCallback& stop, int&) {
        for (const char* name : kIconNames) {
            TBitmap32 bitmap;
            // A picture that cannot be read still takes its place in the list.
            if (LoadPngResource(bitmap, QStringLiteral("z") + QLatin1String(name)))
                images->push_back(bitmap.ImageView().copy());
            else
                images->push_back(QImage());
            if (stop()) return;
        }
    };
    LoadIconsVekThreadedMethod->OnSucces = [this, images](TVekThreadedMethod&) {
        TBXImageList.clear();
        for (const QImage& image : *images)
            TBXImageList.push_back(image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
        for (const auto& [action, index] : m_actionIcons)
            if (index < int(TBXImageList.size())) action->setIcon(TBXImageList[index]);
    };
    LoadIconsVekThreadedMethod->Execute();

    std::vector<TBitmap32> swatches = ColourSwatches();
    for (std::size_t i = 0; i < swatches.size() && i < ColorsTBXImageList.size(); ++i)
        ColorsTBXImageList[i] = QIcon(QPixmap::fromImage(swatches[i].ImageView().copy()));
}

void TMainForm::CreatePanels() {
    TLayerCollection& layers = ImgView32->Layers;
    const auto closed = [this](TVekCustomControlLayer& panel) { PanelClosed(panel); };
    const auto menu = [this](QMenu* popup) {
        return [this, popup](int x, int y) { PopupAt(popup, x, y); };
    };

    CommentPanel = std::make_unique<TVekEditLayer>(layers);
    CommentPanel->OnContextMenu = menu(CommentTBXPopupMenu);

    HistogramPanel = std::make_unique<TVekHistogramLayer>(layers);
    HistogramPanel->SetLeft(1000);
    HistogramPanel->SetWidth(322);
    HistogramPanel->SetHeight(150);
    HistogramPanel->OnClose = closed;
    HistogramPanel->OnContextMenu = menu(HistogramTBXPopupMenu);

    struct TMetaPanel {
        std::unique_ptr<TVekMetaDataLayer>& Panel;
        const char* Caption;
        int Left, Top, Width, Height;
        QMenu* Menu;
    };
    const TMetaPanel panels[] = {
        {ExifPanel, "EXIF information", -1, -1, 250, 200, ExifTBXPopupMenu},
        {IptcPanel, "IPTC information", -1, 200, 250, 200, IptcTBXPopupMenu},
        {XmpPanel, "XMP information", -1, -1, 250, 200, XmpTBXPopupMenu},
        {GeoTiffPanel, "GeoTIFF information", -1, 200, 250, 200, GeoTiffTBXPopupMenu},
        {InfoPanel, "Image info", 255, -1, 210, 115, CommonInfoTBXPopupMenu},
    };
    for (const TMetaPanel& p : panels) {
        p.Panel = std::make_unique<TVekMetaDataLayer>(layers);
        p.Panel->SetCaption(QString::fromLatin1(p.Caption));
        if (p.Left >= 0) p.Panel->SetLeft(p.Left);
        if (p.Top >= 0) p.Panel->SetTop(p.Top);
        p.Panel->SetWidth(p.Width);
        p.Panel->SetHeight(p.Height);
        p.Panel->OnClose = closed;
        p.Panel->OnContextMenu = menu(p.Menu);
    }
    for (int i = 0; i < layout::kPanelCount; ++i) Panel(i)->SetVisible(false);
}

void TMainForm::CreateToolbars() {
    TLayerCollection& layers = ImgView32->Layers;
    TintLayer = std::make_unique<TColorLayer>(layers);
    TintLayer->SetColor(WithAlpha(SystemColor(TSystemColor::scButtonFace), kTintAlpha));
    TintLayer->SetVisible(false);

    ProgressPanel = std::make_unique<TProgressbarLayer>(layers);
    ProgressPanel->SetText(QString());

    const auto button = [](TToolbarLayer& bar, const char* image, const char* hint,
                           QAction* action) {
        auto& b = bar.AddItem(std::make_unique<TTlButton>(QString::fromLatin1(image)));
        b.Hint = QString::fromLatin1(hint);
        // The action's own handler, as a menu item would call it.
        b.OnClick = [action](TTlItem&) {
            if (action->isEnabled()) action->trigger();
        };
        return &b;
    };
    MainToolbar = std::make_unique<TToolbarLayer>(layers);
    MainToolbar->ImageShown = [this] { return ImageLoaded; };
    button(*MainToolbar, "zBack", "Previous image", PreviousAction);
    button(*MainToolbar, "zNext", "Next image", NextAction);
    MainToolbar->AddItem(std::make_unique<TTlSeparator>());
    button(*MainToolbar, "zZoomFit", "Fit width", ZoomFitAction);
    button(*MainToolbar, "zZoomNo", "Actual size", ZoomRealAction);
    MainToolbar->AddItem(std::make_unique<TTlSeparator>());
    button(*MainToolbar, "zRotateLeft", "Rotate left", RotateLeftAction);
    button(*MainToolbar, "zRotateRight", "Rotate right", RotateRightAction);
    MainToolbar->AddItem(std::make_unique<TTlSeparator>());
    button(*MainToolbar, "zSlideShow", "Start slideshow", SlideShowAction);
    button(*MainToolbar, "zWizard", "Slideshow wizard", WizardSlideShowAction);
    MainToolbar->AddItem(std::make_unique<TTlSeparator>());
    button(*MainToolbar, "zOptions", "Pictrel settings", SettingsAction);
    MainToolbar->AddItem(std::make_unique<TTlSeparator>());
    button(*MainToolbar, "zExit", "Exit", ExitAction);

    PagesToolbar = std::make_unique<TToolbarLayer>(layers);
    PagesToolbar->ImageShown = [this] { return ImageLoaded; };
    button(*PagesToolbar, "zPreviousFrame", "Previous page", PrevPageAction);
    PageNumberLabel = &PagesToolbar->AddItem(std::make_unique<TTlLabel>());
    PageNumberLabel->OnClick = [this](TTlItem&) { ShowPagesMenu(); };
    button(*PagesToolbar, "zNextFrame", "Next page", NextPageAction);
    PagesToolbar->SetBigIcons(false);
    PagesToolbar->SetPlacement(tpTop);
    PagesToolbar->SetVisible(false);
}

void TMainForm::CreatePanelMenus() {
    m_actionIcons.insert(m_actionIcons.end(), {{OpenAction, 0},
                                               {PreviousAction, 2},
                                               {NextAction, 3},
                                               {ZoomFitAction, 4},
                                               {ZoomRealAction, 5},
                                               {RotateLeftAction, 6},
                                               {RotateRightAction, 7},
                                               {SlideShowAction, 8},
                                               {SettingsAction, 9},
                                               {ExitAction, 10},
                                               {PropertiesAction, 1},
                                               {HelpAction, 11},
                                               {PrintAction, 35},
                                               {WallpaperAction, 33},
                                               {OpenEditAction, 34},
                                               {PrevPageAction, 12},
                                               {NextPageAction, 13},
                                               {WizardSlideShowAction, 36}});
    const auto checkable = [this](const char* caption, std::function<void(bool)> toggled) {
        auto* action = new QAction(QString::fromLatin1(caption), this);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this,
                [toggled = std::move(toggled)](bool checked) { toggled(checked); });
        return action;
    };
    const auto showPanel = [this, checkable](const char* caption, layout::TPanel panel) {
        return checkable(caption, [this, panel](bool checked) {
            ShowPanels[std::size_t(panel)] = checked;
            UpdatePanels();
        });
    };
    const auto addClose = [this](QMenu* menu, layout::TPanel panel) {
        connect(menu->addAction(QStringLiteral("Close")), &QAction::triggered, this, [this, panel] {
            ShowPanels[std::size_t(panel)] = false;
            UpdatePanels();
        });
    };

    ShowCommonInfoAction = showPanel("Show image information", layout::TPanel::pnInfo);
    ShowCommentAction = showPanel("Show comment", layout::TPanel::pnComment);
    ShowHistogramAction = showPanel("Show histogram", layout::TPanel::pnHistogram);
    ShowExifAction = showPanel("Show EXIF information", layout::TPanel::pnExif);
    ShowIPTCAction = showPanel("Show IPTC information", layout::TPanel::pnIptc);
    ShowXMPAction = showPanel("Show XMP information", layout::TPanel::pnXmp);
    ShowGeoTiffAction = showPanel("Show GeoTIFF information", layout::TPanel::pnGeoTiff);

    ImageTBXPopupMenu = new QMenu(this);
    ImageTBXPopupMenu->addActions({ShowCommonInfoAction, ShowCommentAction, ShowHistogramAction,
                                   ShowExifAction, ShowIPTCAction, ShowXMPAction,
                                   ShowGeoTiffAction});
    WallpaperTBXSubmenu = new QMenu(QStringLiteral("Set as wallpaper"), this);
    WallpaperTBXSubmenu->addAction(OptimalWallpaperAction);
    WallpaperTBXSubmenu->addSeparator();
    WallpaperTBXSubmenu->addActions(
        {TileWallpaperAction, CenterWallpaperAction, StretchWallpaperAction});
    connect(WallpaperTBXSubmenu, &QMenu::aboutToShow, this, &TMainForm::UpdateActions);
    m_actionIcons.emplace_back(WallpaperTBXSubmenu->menuAction(), 33);
    ImageTBXPopupMenu->addSeparator();
    ImageTBXPopupMenu->addMenu(WallpaperTBXSubmenu);
    ImageTBXPopupMenu->addSeparator();
    ImageTBXPopupMenu->addActions({ZoomFitAction, ZoomRealAction});
    SimpleModeTBXPopupMenu = new QMenu(this);
    SimpleModeTBXPopupMenu->addMenu(WallpaperTBXSubmenu);
    for (QMenu* menu : {ImageTBXPopupMenu, SimpleModeTBXPopupMenu}) {
        menu->addSeparator();
        menu->addActions({OpenEditAction, DeleteAction, PrintAction});
        menu->addSeparator();
        menu->addAction(SimpleModeAction);
        menu->addSeparator();
        menu->addAction(SettingsAction);
        menu->addSeparator();
        menu->addAction(ExitAction);
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::UpdateActions);
    }

    HistogramTBXPopupMenu = new QMenu(this);
    ShowRedHistogramAction =
        checkable("Show red", [this](bool on) { HistogramPanel->SetShowRed(on); });
    ShowGreenHistogramAction =
        checkable("Show green", [this](bool on) { HistogramPanel->SetShowGreen(on); });
    ShowBlueHistoramAction =
        checkable("Show blue", [this](bool on) { HistogramPanel->SetShowBlue(on); });
    ShowIntensityHistogramAction =
        checkable("Show intensity", [this](bool on) { HistogramPanel->SetShowGray(on); });
    int swatch = 0;
    for (QAction* a : {ShowRedHistogramAction, ShowGreenHistogramAction, ShowBlueHistoramAction,
                       ShowIntensityHistogramAction}) {
        a->setIcon(ColorsTBXImageList[std::size_t(swatch++)]);
        HistogramTBXPopupMenu->addAction(a);
    }
    HistogramTBXPopupMenu->addSeparator();
    addClose(HistogramTBXPopupMenu, layout::TPanel::pnHistogram);
    connect(HistogramTBXPopupMenu, &QMenu::aboutToShow, this, [this] {
        ShowRedHistogramAction->setChecked(HistogramPanel->ShowRed());
        ShowGreenHistogramAction->setChecked(HistogramPanel->ShowGreen());
        ShowBlueHistoramAction->setChecked(HistogramPanel->ShowBlue());
        ShowIntensityHistogramAction->setChecked(HistogramPanel->ShowGray());
    });

    // The comment editor's menu: the editor stays hidden in the viewer, so only the
    // entries that need no comment source are here.
    CommentTBXPopupMenu = new QMenu(this);
    const std::pair<const char*, void (TVekEditLayer::*)()> edits[] = {
        {"Cut", &TVekEditLayer::CutToClipboard},
        {"Copy", &TVekEditLayer::CopyToClipboard},
        {"Paste", &TVekEditLayer::PasteFromClipboard},
        {"Delete", &TVekEditLayer::DeleteSelected},
        {"Select all", &TVekEditLayer::SelectAll}};
    int icon = 16; // cut, copy, paste, delete; select all has none
    std::vector<QAction*> editActions;
    for (const auto& [caption, call] : edits) {
        QAction* action = CommentTBXPopupMenu->addAction(QString::fromLatin1(caption));
        connect(action, &QAction::triggered, this,
                [this, call = call] { ((*CommentPanel).*call)(); });
        if (icon <= 19) m_actionIcons.emplace_back(action, icon++);
        editActions.push_back(action);
    }
    connect(CommentTBXPopupMenu, &QMenu::aboutToShow, this, [this, editActions] {
        const bool selected = !CommentPanel->GetSelText().isEmpty();
        editActions[0]->setEnabled(selected);
        editActions[1]->setEnabled(selected);
        editActions[2]->setEnabled(CommentPanel->CanPaste());
        editActions[3]->setEnabled(selected);
        editActions[4]->setEnabled(!CommentPanel->Text().isEmpty());
    });
    CommentTBXPopupMenu->addSeparator();
    QAction* commentFont = CommentTBXPopupMenu->addAction(QStringLiteral("Change font"));
    m_actionIcons.emplace_back(commentFont, 20);
    connect(commentFont, &QAction::triggered, this, [this] {
        if (const std::optional<TVekFont> font = AskFont(CommentPanel->TextFont()))
            CommentPanel->SetTextFont(*font);
    });
    CommentTBXPopupMenu->addSeparator();
    addClose(CommentTBXPopupMenu, layout::TPanel::pnComment);

    struct TMetaMenu {
        QMenu*& Menu;
        layout::TPanel Panel;
        bool TagComments;
    };
    TMetaMenu menus[] = {{ExifTBXPopupMenu, layout::TPanel::pnExif, true},
                         {IptcTBXPopupMenu, layout::TPanel::pnIptc, true},
                         {XmpTBXPopupMenu, layout::TPanel::pnXmp, true},
                         {GeoTiffTBXPopupMenu, layout::TPanel::pnGeoTiff, true},
                         {CommonInfoTBXPopupMenu, layout::TPanel::pnInfo, false}};
    for (TMetaMenu& m : menus) {
        m.Menu = new QMenu(this);
        const layout::TPanel panel = m.Panel;
        const auto meta = [this, panel] {
            return static_cast<TVekMetaDataLayer*>(Panel(int(panel)));
        };
        if (m.TagComments) {
            QAction* comments =
                checkable("Show tag comments", [meta](bool on) { meta()->SetShowTagComments(on); });
            m.Menu->addAction(comments);
            m.Menu->addSeparator();
            connect(m.Menu, &QMenu::aboutToShow, this,
                    [comments, meta] { comments->setChecked(meta()->ShowTagComments()); });
        }
        QAction* font = m.Menu->addAction(QStringLiteral("Change font"));
        m_actionIcons.emplace_back(font, 20);
        connect(font, &QAction::triggered, this, [this, meta] {
            if (const std::optional<TVekFont> chosen = AskFont(meta()->TextFont()))
                meta()->SetTextFont(*chosen);
        });
        m.Menu->addSeparator();
        addClose(m.Menu, panel);
    }
}

std::optional<TVekFont> TMainForm::AskFont(const TVekFont& current) {
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, ToQFont(current), this);
    if (!ok) return std::nullopt;
    return ToVekFont(font, FontColor(current));
}

void TMainForm::PopupAt(QMenu* menu, int x, int y) {
    const double ratio = ImgView32->DeviceRatio();
    menu->popup(ImgView32->mapToGlobal(QPoint(int(x / ratio), int(y / ratio))));
}

void TMainForm::PanelClosed(TVekCustomControlLayer& panel) {
    for (int i = 0; i < layout::kPanelCount; ++i)
        if (Panel(i) == &panel) ShowPanels[std::size_t(i)] = false;
    UpdatePanels();
}

void TMainForm::UpdatePanels() {
    const QStringList* lists[layout::kPanelCount] = {};
    for (int i = int(layout::TPanel::pnExif); i <= int(layout::TPanel::pnInfo); ++i)
        lists[i] = &static_cast<TVekMetaDataLayer*>(Panel(i))->Lines();
    const int viewWidth = ImgView32->ViewWidth(), viewHeight = ImgView32->ViewHeight();
    for (int i = 0; i < layout::kPanelCount; ++i) {
        TVekCustomControlLayer* panel = Panel(i);
        bool visible = ShowPanels[std::size_t(i)] && ImageLoaded && !SimpleMode;
        if (i == int(layout::TPanel::pnComment)) visible = visible && CommentAvailable;
        if (lists[i]) visible = visible && !lists[i]->isEmpty();
        if (visible == panel->Visible()) continue;
        panel->SetVisible(visible);
        if (!visible) continue;
        panel->SetLeft(PullInside(panel->Left(), panel->Width(), viewWidth));
        panel->SetTop(PullInside(panel->Top(), panel->Height(), viewHeight));
    }
    // A histogram is counted only once somebody looks at it.
    if (HistogramPanel->Visible() && m_histogramStale) {
        m_histogramStale = false;
        HistogramPanel->Analyze(&ImgView32->Bitmap);
    }
}

void TMainForm::FillPanels() {
    TVekMetaDataLayer* panels[] = {ExifPanel.get(), IptcPanel.get(), XmpPanel.get(),
                                   GeoTiffPanel.get(), InfoPanel.get()};
    for (std::size_t i = 0; i < m_shownLists.size(); ++i) panels[i]->SetLines(m_shownLists[i]);
    m_histogramStale = true;
}

void TMainForm::LoadPanelSettings() {
    for (int i = 0; i < layout::kPanelCount; ++i)
        Panel(i)->LoadSettings(TRegRoot::rrCurrentUser,
                               TPanelStoreValues::KeyPath(layout::TPanel(i)));
}

void TMainForm::SavePanelSettings() {
    for (int i = 0; i < layout::kPanelCount; ++i)
        Panel(i)->SaveSettings(TRegRoot::rrCurrentUser,
                               TPanelStoreValues::KeyPath(layout::TPanel(i)));
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    MainToolbar->SetBigIcons(DialogValues.BigIcons);
}
