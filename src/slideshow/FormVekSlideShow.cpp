#include "slideshow/FormVekSlideShow.h"

#include "app/AppContext.h"
#include "authoring/CurrentSlideshow.h"

#include <QCloseEvent>

#include <cstdio>
#include <exception>

TSlideShowForm::TSlideShowForm(TAppContext& context) : m_context(context) {
    setWindowTitle(QStringLiteral("Pictrel"));
    if (TVekSettingsFile* slideshow = CurrentSlideshow()) ReadStoredSlideshowValues(*slideshow);
}

TSlideShowForm::~TSlideShowForm() {
    // Whatever the wizard, a slideshow file or the settings last chose is kept.
    if (const TVekSettingsFile* slideshow = CurrentSlideshow()) {
        try {
            StoreSlideshowValues(*slideshow);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pictrel: slideshow settings not saved: %s\n", e.what());
        }
    }
}

void TSlideShowForm::OpenSlideshowFile(const QString& path) {
    m_preparedFiles.append(path);
}

void TSlideShowForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_context.WindowClosed(this, event->isAccepted());
}
