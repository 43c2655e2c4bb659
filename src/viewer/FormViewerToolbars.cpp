#include "viewer/FormViewerToolbars.h"

#include "app/ShellHelpers.h"
#include "gfx/BitmapOps.h"
#include "layers/LayerPaint.h"
#include "layers/VekAdditionalLayers.h"
#include "loading/ShellThumbnail.h"
#include "viewer/FormViewerActions.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QWidget>

#include <utility>

namespace {

// The tint's colour: the button face at alpha 0x7D.
constexpr std::uint8_t kTintAlpha = 0x7D;
constexpr int kOpeningThumbnailSize = 100;

} // namespace

TViewerToolbars::TViewerToolbars(TLayerCollection& layers, QWidget& window,
                                 const TViewerActions& actions, std::function<bool()> imageShown,
                                 std::function<void(int page)> pick)
    : m_window(window), m_actions(actions), m_pick(std::move(pick)) {
    TintLayer = std::make_unique<TColorLayer>(layers);
    TintLayer->SetColor(WithAlpha(SystemColor(TSystemColor::scButtonFace), kTintAlpha));
    TintLayer->SetVisible(false);

    ProgressPanel = std::make_unique<TProgressbarLayer>(layers);
    ProgressPanel->SetText(QString());

    const auto button = [](TToolbarLayer& bar, const char* image, const char* hint,
                           QAction* action) {
        auto& b = bar.AddItem(std::make_unique<TTlButton>(QString::fromLatin1(image)));
        b.Hint = QString::fromLatin1(hint);
        b.OnClick = [action](TTlItem&) {
            if (action->isEnabled()) action->trigger();
        };
        return &b;
    };
    const auto separator = [](TToolbarLayer& bar) {
        return &bar.AddItem(std::make_unique<TTlSeparator>());
    };
    MainToolbar = std::make_unique<TToolbarLayer>(layers);
    MainToolbar->ImageShown = imageShown;
    TToolbarLayer& bar = *MainToolbar;
    const auto at = [this](TButton b) -> TTlButton*& { return m_buttons[int(b)]; };
    at(TButton::Back) = button(bar, "zBack", "Previous image", actions.PreviousAction);
    at(TButton::Next) = button(bar, "zNext", "Next image", actions.NextAction);
    m_stepsSeparator = separator(bar);
    at(TButton::FitWidth) = button(bar, "zZoomFit", "Fit width", actions.ZoomFitAction);
    at(TButton::ActualSize) = button(bar, "zZoomNo", "Actual size", actions.ZoomRealAction);
    separator(bar);
    at(TButton::RotateLeft) = button(bar, "zRotateLeft", "Rotate left", actions.RotateLeftAction);
    at(TButton::RotateRight) =
        button(bar, "zRotateRight", "Rotate right", actions.RotateRightAction);
    separator(bar);
    at(TButton::SlideShow) = button(bar, "zSlideShow", "Start slideshow", actions.SlideShowAction);
    at(TButton::Wizard) = button(bar, "zWizard", "Slideshow wizard", actions.WizardSlideShowAction);
    separator(bar);
    at(TButton::Settings) = button(bar, "zOptions", "Pictrel settings", actions.SettingsAction);
    separator(bar);
    at(TButton::Exit) = button(bar, "zExit", "Exit", actions.ExitAction);

    PagesToolbar = std::make_unique<TToolbarLayer>(layers);
    PagesToolbar->ImageShown = std::move(imageShown);
    m_previousPage =
        button(*PagesToolbar, "zPreviousFrame", "Previous page", actions.PrevPageAction);
    PageNumberLabel = &PagesToolbar->AddItem(std::make_unique<TTlLabel>());
    PageNumberLabel->OnClick = [this](TTlItem&) { ShowPagesMenu(); };
    m_nextPage = button(*PagesToolbar, "zNextFrame", "Next page", actions.NextPageAction);
    PagesToolbar->SetBigIcons(false);
    PagesToolbar->SetPlacement(tpTop);
    PagesToolbar->SetVisible(false);

    PagesPopupMenu = new QMenu(&window);
}

TViewerToolbars::~TViewerToolbars() {
    m_thumbnailWork.Shutdown();
}

TTlButton* TViewerToolbars::Button(TButton button) const {
    return m_buttons[int(button)];
}

void TViewerToolbars::Update(const TState& s) {
    for (TTlItem* item : {static_cast<TTlItem*>(Button(TButton::Back)),
                          static_cast<TTlItem*>(Button(TButton::Next)), m_stepsSeparator,
                          static_cast<TTlItem*>(Button(TButton::SlideShow))})
        item->SetVisible(s.Several);
    for (TButton b :
         {TButton::FitWidth, TButton::ActualSize, TButton::RotateLeft, TButton::RotateRight})
        Button(b)->SetEnabled(s.ImageLoaded);
    // The buttons of the other windows follow their commands.
    Button(TButton::SlideShow)->SetEnabled(m_actions.SlideShowAction->isEnabled());
    Button(TButton::Wizard)->SetEnabled(m_actions.WizardSlideShowAction->isEnabled());
    Button(TButton::Settings)->SetEnabled(m_actions.SettingsAction->isEnabled());
    m_pages = s.Pages;
    PagesToolbar->SetVisible(s.Pages && !s.SimpleMode);
}

void TViewerToolbars::SetPages(int count) {
    PagesPopupMenu->clear();
    for (int i = 0; i < count; ++i)
        QObject::connect(PagesPopupMenu->addAction(QString::number(i + 1)), &QAction::triggered,
                         &m_window, [this, i] { m_pick(i); });
}

void TViewerToolbars::ShowPageNumber(int index, int count, const TState& s) {
    PageLabel = QString::number(index + 1);
    m_actions.PrevPageAction->setEnabled(s.Pages && index > 0);
    m_actions.NextPageAction->setEnabled(s.Pages && index < count - 1);
    PageNumberLabel->SetCaption(PageLabel);
    m_previousPage->SetEnabled(m_actions.PrevPageAction->isEnabled());
    m_nextPage->SetEnabled(m_actions.NextPageAction->isEnabled());
    m_pages = s.Pages;
    PagesToolbar->SetVisible(s.Pages && !s.SimpleMode);
}

void TViewerToolbars::ShowPagesMenu() {
    if (!m_pages) return;
    PagesPopupMenu->popup(m_window.mapToGlobal(QPoint(m_window.width() / 2 - 27, 26)));
}

void TViewerToolbars::StartOpening(const QString& file, bool show, bool thumbnail, int angle,
                                   bool upright) {
    m_thumbnailWork.Cancel();
    ProgressPanel->SetText(QFileInfo(file).fileName());
    ProgressPanel->SetPosition(0);
    if (!show) return;
    m_opening = file;
    ProgressPanel->SetThumbnail(TBitmap32());
    ProgressPanel->Start();
    if (!thumbnail) return;
    ShellThumbnailAsync(m_thumbnailWork, file, kOpeningThumbnailSize, clBlack32,
                        kOpeningThumbnailSize, upright, [this, file, angle](TBitmap32&& picture) {
                            if (m_opening != file) return;
                            TurnQuarter(picture, angle);
                            ProgressPanel->SetThumbnail(picture);
                        });
}

void TViewerToolbars::StopOpening() {
    m_thumbnailWork.Cancel();
    m_opening.clear();
    ProgressPanel->Stop();
}
