#include "viewer/FormViewerStore.h"

#include "app/SettingsLayout.h"
#include "app/StoreFailure.h"
#include "app/ViewerStoreValues.h"
#include "viewer/FormViewerPanels.h"
#include "viewer/FormViewerSimpleMode.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QWidget>

namespace {

// Changes of the window's values within this time are written together.
constexpr int kSettingsDelayMs = 500;

// The screen's free area, which the stored defaults are measured against.
QRect AvailableScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

} // namespace

TViewerStore::TViewerStore(QWidget& window, QWidget& view, TViewerSimpleMode& simple,
                           TViewerPanelSet& panels)
    : m_window(window), m_view(view), m_simple(simple), m_panels(panels) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(kSettingsDelayMs);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { WriteThrough(); });
}

TViewerStore::~TViewerStore() {
    m_window.removeEventFilter(this);
    m_view.removeEventFilter(this);
}

void TViewerStore::Load() {
    const QRect screen = AvailableScreen();
    const TViewerStoreValues v = TViewerStoreValues::Load(screen.width(), screen.height());
    m_simple.Load(v);
    for (int i = 0; i < layout::kPanelCount; ++i)
        m_panels.ShowPanels[std::size_t(i)] = v.LayerVisible[std::size_t(i)];
    m_panels.LoadSettings();
}

void TViewerStore::Save() {
    const QRect screen = AvailableScreen();
    TViewerStoreValues v = TViewerStoreValues::Defaults(screen.width(), screen.height());
    m_simple.Store(v);
    for (int i = 0; i < layout::kPanelCount; ++i)
        v.LayerVisible[std::size_t(i)] = m_panels.ShowPanels[std::size_t(i)];
    v.Save();
    m_panels.SaveSettings();
}

void TViewerStore::Watch() {
    m_stored.Take([this] { Save(); });
    m_window.installEventFilter(this);
    // A panel dragged or resized ends with the button's release over the view.
    m_view.installEventFilter(this);
    for (QMenu* menu : m_window.findChildren<QMenu*>())
        QObject::connect(menu, &QMenu::triggered, this, [this] { m_timer.start(); });
}

void TViewerStore::WriteThrough() {
    m_timer.stop();
    QString error;
    if (!m_stored.WriteChanges([this] { Save(); }, &error)) ReportStoreFailure(error);
}

bool TViewerStore::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == &m_window
            ? type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowStateChange
            : type == QEvent::MouseButtonRelease)
        m_timer.start();
    return false;
}
