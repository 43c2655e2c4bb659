#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class TAppContext;

// The slideshow wizard; created hidden at start-up. For now it only records the
// files it is asked to open.
class TWizardForm : public QWidget {
public:
    explicit TWizardForm(TAppContext& context);

    void OpenInWizard(const QString& path);
    [[nodiscard]] const QStringList& OpenedFiles() const { return m_openedFiles; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TAppContext& m_context;
    QStringList m_openedFiles;
};
