#include "authoring/FormVekWizard.h"

#include "app/AppContext.h"

#include <QCloseEvent>

TWizardForm::TWizardForm(TAppContext& context) : m_context(context) {
    setWindowTitle(QStringLiteral("Pictrel slideshow wizard"));
    resize(640, 480);
}

void TWizardForm::OpenInWizard(const QString& path) {
    m_openedFiles.append(path);
}

void TWizardForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_context.WindowClosed(this, event->isAccepted());
}
