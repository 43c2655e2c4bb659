#include "slideshow/FormVekSlideShow.h"

#include "app/AppContext.h"

#include <QCloseEvent>
#include <QCoreApplication>

TSlideShowForm::TSlideShowForm(TAppContext& context) : m_context(context) {
    setWindowTitle(QStringLiteral("Pictrel"));
}

void TSlideShowForm::OpenSlideshowFile(const QString& path) {
    m_preparedFiles.append(path);
}

void TSlideShowForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && m_context.IsMainWindow(this)) QCoreApplication::quit();
}
