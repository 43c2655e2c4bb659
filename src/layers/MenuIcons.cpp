#include "layers/MenuIcons.h"

#include "app/VekThreadedMethod.h"
#include "gfx/Bitmap32.h"
#include "layers/ResourceLoader.h"

#include <QAction>
#include <QImage>
#include <QPixmap>

#include <algorithm>

const std::vector<std::string_view>& TMenuIcons::Names() {
    static const std::vector<std::string_view> names = {"OpenImage",
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
    return names;
}

TMenuIcons::TMenuIcons() = default;

TMenuIcons::~TMenuIcons() = default;

void TMenuIcons::Load() {
    if (m_loader) return;
    // The pictures are drawn on a worker; the GUI thread only turns them into icons.
    auto images = std::make_shared<std::vector<QImage>>();
    m_loader = std::make_unique<TVekThreadedMethod>();
    m_loader->SetPriority(TThreadPriority::tpLower);
    m_loader->OnBody = [images](TVekThreadedMethod&, TThreadForMethod&,
                                const TThreadedMethodCallback& stop, int&) {
        for (std::string_view name : Names()) {
            TBitmap32 bitmap;
            // A picture that cannot be read still takes its place in the list.
            const QString resource =
                QStringLiteral("z") + QLatin1String(name.data(), qsizetype(name.size()));
            images->push_back(LoadPngResource(bitmap, resource) ? bitmap.ImageView().copy()
                                                                : QImage());
            if (stop()) return;
        }
    };
    m_loader->OnSucces = [this, images](TVekThreadedMethod&) {
        m_icons.clear();
        for (const QImage& image : *images)
            m_icons.push_back(image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image)));
        for (const auto& [action, name] : m_attached)
            if (action) action->setIcon(Icon(name));
    };
    m_loader->Execute();
}

QIcon TMenuIcons::Icon(std::string_view name) const {
    const std::vector<std::string_view>& names = Names();
    const auto at = std::find(names.begin(), names.end(), name);
    const auto index = std::size_t(at - names.begin());
    return index < m_icons.size() ? m_icons[index] : QIcon();
}

void TMenuIcons::Attach(QAction* action, std::string_view name) {
    m_attached.emplace_back(action, name);
    if (Loaded()) action->setIcon(Icon(name));
}
