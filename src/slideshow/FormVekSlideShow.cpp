#include "slideshow/FormVekSlideShow.h"

#include "app/AppContext.h"

#include <QCloseEvent>

TSlideShowForm::TSlideShowForm(TAppContext& context) : m_context(context) {
    setWindowTitle(QStringLiteral("Pictrel"));
}

void TSlideShowForm::OpenSlideshowFile(const QString& path) {
    m_preparedFiles.append(path);
}

void TSlideShowForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_context.WindowClosed(this, event->isAccepted());
}
