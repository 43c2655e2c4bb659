#include "viewer/FormViewerPanels.h"

#include "app/PanelStoreValues.h"
#include "app/SettingsLayout.h"
#include "app/ShellHelpers.h"
#include "gfx/Bitmap32.h"
#include "gfx/Layers.h"
#include "layers/LayerPaint.h"
#include "layers/MenuIcons.h"
#include "layers/VekEditLayer.h"
#include "layers/VekHistogramLayer.h"
#include "layers/VekStringListLayer.h"

#include <QAction>
#include <QFontDialog>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QWidget>

#include <tuple>
#include <utility>

namespace {

using layout::TPanel;

// Pixels a panel may stick out of the view before it is pulled back.
int PullInside(int position, int size, int viewSize) {
    if (position < 0) return 0;
    if (position + size > viewSize) return viewSize - size;
    return position;
}

} // namespace

TViewerPanelSet::TViewerPanelSet(TLayerCollection& layers, QWidget& window, TMenuIcons& icons,
                                 THost host)
    : m_host(std::move(host)) {
    std::vector<TBitmap32> swatches = ColourSwatches();
    for (std::size_t i = 0; i < swatches.size() && i < ColorsTBXImageList.size(); ++i)
        ColorsTBXImageList[i] = QIcon(QPixmap::fromImage(swatches[i].ImageView().copy()));
    CreateMenus(window, icons);
    CreatePanels(layers);
}

TViewerPanelSet::~TViewerPanelSet() = default;

TVekCustomControlLayer* TViewerPanelSet::Panel(int panel) const {
    switch (TPanel(panel)) {
    case TPanel::pnComment:
        return CommentPanel.get();
    case TPanel::pnHistogram:
        return HistogramPanel.get();
    case TPanel::pnExif:
        return ExifPanel.get();
    case TPanel::pnIptc:
        return IptcPanel.get();
    case TPanel::pnXmp:
        return XmpPanel.get();
    case TPanel::pnGeoTiff:
        return GeoTiffPanel.get();
    case TPanel::pnInfo:
        return InfoPanel.get();
    default:
        return nullptr;
    }
}

std::vector<QAction*> TViewerPanelSet::ShowActions() const {
    return {ShowCommonInfoAction, ShowCommentAction, ShowHistogramAction, ShowExifAction,
            ShowIPTCAction,       ShowXMPAction,     ShowGeoTiffAction};
}

bool TViewerPanelSet::HasContent(int panel) const {
    if (panel == int(TPanel::pnComment)) return CommentAvailable;
    if (panel == int(TPanel::pnHistogram)) return true;
    return !static_cast<TVekMetaDataLayer*>(Panel(panel))->Lines().isEmpty();
}

void TViewerPanelSet::Wish(int panel, bool shown) {
    ShowPanels[std::size_t(panel)] = shown;
    if (m_host.Changed) m_host.Changed();
}

void TViewerPanelSet::CreatePanels(TLayerCollection& layers) {
    const auto closed = [this](TVekCustomControlLayer& panel) { PanelClosed(panel); };
    const auto menu = [this](QMenu* popup) {
        return [this, popup](int x, int y) {
            if (m_host.Popup) m_host.Popup(popup, x, y);
        };
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

void TViewerPanelSet::CreateMenus(QWidget& window, TMenuIcons& icons) {
    const auto checkable = [&window](const char* caption, std::function<void(bool)> toggled) {
        auto* action = new QAction(QString::fromLatin1(caption), &window);
        action->setCheckable(true);
        QObject::connect(action, &QAction::triggered, &window,
                         [toggled = std::move(toggled)](bool checked) { toggled(checked); });
        return action;
    };
    const auto showPanel = [this, checkable](const char* caption, TPanel panel) {
        return checkable(caption, [this, panel](bool checked) { Wish(int(panel), checked); });
    };
    const auto addClose = [this, &window](QMenu* menu, TPanel panel) {
        QObject::connect(menu->addAction(QStringLiteral("Close")), &QAction::triggered, &window,
                         [this, panel] { Wish(int(panel), false); });
    };

    ShowCommonInfoAction = showPanel("Show image information", TPanel::pnInfo);
    ShowCommentAction = showPanel("Show comment", TPanel::pnComment);
    ShowHistogramAction = showPanel("Show histogram", TPanel::pnHistogram);
    ShowExifAction = showPanel("Show EXIF information", TPanel::pnExif);
    ShowIPTCAction = showPanel("Show IPTC information", TPanel::pnIptc);
    ShowXMPAction = showPanel("Show XMP information", TPanel::pnXmp);
    ShowGeoTiffAction = showPanel("Show GeoTIFF information", TPanel::pnGeoTiff);

    HistogramTBXPopupMenu = new QMenu(&window);
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
    addClose(HistogramTBXPopupMenu, TPanel::pnHistogram);
    QObject::connect(HistogramTBXPopupMenu, &QMenu::aboutToShow, &window, [this] {
        ShowRedHistogramAction->setChecked(HistogramPanel->ShowRed());
        ShowGreenHistogramAction->setChecked(HistogramPanel->ShowGreen());
        ShowBlueHistoramAction->setChecked(HistogramPanel->ShowBlue());
        ShowIntensityHistogramAction->setChecked(HistogramPanel->ShowGray());
    });

    const auto changeFont = [this, &window, &icons](QMenu* menu, auto panel) {
        QAction* font = menu->addAction(QStringLiteral("Change font"));
        icons.Attach(font, "Font");
        QObject::connect(font, &QAction::triggered, &window, [this, &window, panel] {
            const TVekFont current = panel()->TextFont();
            std::optional<TVekFont> chosen;
            if (m_host.AskFont) {
                chosen = m_host.AskFont(current);
            } else {
                bool ok = false;
                const QFont font = QFontDialog::getFont(&ok, ToQFont(current), &window);
                if (ok) chosen = ToVekFont(font, FontColor(current));
            }
            if (chosen) panel()->SetTextFont(*chosen);
        });
    };

    // The comment editor's menu: the editor stays hidden in the viewer, so only the
    // entries that need no comment source are here.
    CommentTBXPopupMenu = new QMenu(&window);
    const std::tuple<const char*, void (TVekEditLayer::*)(), const char*> edits[] = {
        {"Cut", &TVekEditLayer::CutToClipboard, "Cut"},
        {"Copy", &TVekEditLayer::CopyToClipboard, "Copy"},
        {"Paste", &TVekEditLayer::PasteFromClipboard, "Paste"},
        {"Delete", &TVekEditLayer::DeleteSelected, "Delete"},
        {"Select all", &TVekEditLayer::SelectAll, ""}};
    std::vector<QAction*> editActions;
    for (const auto& [caption, call, icon] : edits) {
        QAction* action = CommentTBXPopupMenu->addAction(QString::fromLatin1(caption));
        QObject::connect(action, &QAction::triggered, &window,
                         [this, call = call] { ((*CommentPanel).*call)(); });
        if (*icon != '\0') icons.Attach(action, icon);
        editActions.push_back(action);
    }
    QObject::connect(CommentTBXPopupMenu, &QMenu::aboutToShow, &window, [this, editActions] {
        const bool selected = !CommentPanel->GetSelText().isEmpty();
        editActions[0]->setEnabled(selected);
        editActions[1]->setEnabled(selected);
        editActions[2]->setEnabled(CommentPanel->CanPaste());
        editActions[3]->setEnabled(selected);
        editActions[4]->setEnabled(!CommentPanel->Text().isEmpty());
    });
    CommentTBXPopupMenu->addSeparator();
    changeFont(CommentTBXPopupMenu, [this] { return CommentPanel.get(); });
    CommentTBXPopupMenu->addSeparator();
    addClose(CommentTBXPopupMenu, TPanel::pnComment);

    struct TMetaMenu {
        QMenu*& Menu;
        TPanel Panel;
        bool TagComments;
    };
    TMetaMenu menus[] = {{ExifTBXPopupMenu, TPanel::pnExif, true},
                         {IptcTBXPopupMenu, TPanel::pnIptc, true},
                         {XmpTBXPopupMenu, TPanel::pnXmp, true},
                         {GeoTiffTBXPopupMenu, TPanel::pnGeoTiff, true},
                         {CommonInfoTBXPopupMenu, TPanel::pnInfo, false}};
    for (TMetaMenu& m : menus) {
        m.Menu = new QMenu(&window);
        const TPanel panel = m.Panel;
        const auto meta = [this, panel] {
            return static_cast<TVekMetaDataLayer*>(Panel(int(panel)));
        };
        if (m.TagComments) {
            QAction* comments =
                checkable("Show tag comments", [meta](bool on) { meta()->SetShowTagComments(on); });
            m.Menu->addAction(comments);
            m.Menu->addSeparator();
            QObject::connect(m.Menu, &QMenu::aboutToShow, &window,
                             [comments, meta] { comments->setChecked(meta()->ShowTagComments()); });
        }
        changeFont(m.Menu, meta);
        m.Menu->addSeparator();
        addClose(m.Menu, panel);
    }
}

void TViewerPanelSet::SetLines(std::array<QStringList, 5> lines, bool fill) {
    m_lines = std::move(lines);
    if (fill) Fill();
}

void TViewerPanelSet::Fill() {
    TVekMetaDataLayer* panels[] = {ExifPanel.get(), IptcPanel.get(), XmpPanel.get(),
                                   GeoTiffPanel.get(), InfoPanel.get()};
    for (std::size_t i = 0; i < m_lines.size(); ++i) panels[i]->SetLines(m_lines[i]);
    m_histogramStale = true;
}

void TViewerPanelSet::Clear() {
    for (TVekMetaDataLayer* panel :
         {ExifPanel.get(), IptcPanel.get(), XmpPanel.get(), GeoTiffPanel.get(), InfoPanel.get()})
        panel->ClearLines();
    m_lines = {};
    CommentPanel->SetText(QString());
    HistogramPanel->Analyze(nullptr);
    m_histogramStale = true;
}

void TViewerPanelSet::Update(bool pictureShown, int viewWidth, int viewHeight,
                             const TBitmap32& picture) {
    for (int i = 0; i < layout::kPanelCount; ++i) {
        TVekCustomControlLayer* panel = Panel(i);
        const bool visible = ShowPanels[std::size_t(i)] && pictureShown && HasContent(i);
        if (visible == panel->Visible()) continue;
        panel->SetVisible(visible);
        if (!visible) continue;
        panel->SetLeft(PullInside(panel->Left(), panel->Width(), viewWidth));
        panel->SetTop(PullInside(panel->Top(), panel->Height(), viewHeight));
    }
    if (HistogramPanel->Visible() && m_histogramStale) {
        m_histogramStale = false;
        HistogramPanel->Analyze(&picture);
    }
}

void TViewerPanelSet::UpdateActions(bool imageLoaded) {
    const std::pair<QAction*, TPanel> shows[] = {
        {ShowCommonInfoAction, TPanel::pnInfo}, {ShowHistogramAction, TPanel::pnHistogram},
        {ShowExifAction, TPanel::pnExif},       {ShowIPTCAction, TPanel::pnIptc},
        {ShowXMPAction, TPanel::pnXmp},         {ShowGeoTiffAction, TPanel::pnGeoTiff},
        {ShowCommentAction, TPanel::pnComment}};
    for (const auto& [action, panel] : shows) {
        action->setChecked(ShowPanels[std::size_t(panel)]);
        action->setVisible(imageLoaded && HasContent(int(panel)));
    }
}

void TViewerPanelSet::PanelClosed(TVekCustomControlLayer& panel) {
    for (int i = 0; i < layout::kPanelCount; ++i)
        if (Panel(i) == &panel) ShowPanels[std::size_t(i)] = false;
    if (m_host.Changed) m_host.Changed();
}

void TViewerPanelSet::LoadSettings() {
    for (int i = 0; i < layout::kPanelCount; ++i)
        Panel(i)->LoadSettings(TRegRoot::rrCurrentUser, TPanelStoreValues::KeyPath(TPanel(i)));
}

void TViewerPanelSet::SaveSettings() {
    for (int i = 0; i < layout::kPanelCount; ++i)
        Panel(i)->SaveSettings(TRegRoot::rrCurrentUser, TPanelStoreValues::KeyPath(TPanel(i)));
}
