#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class TAppContext;

// The full-screen slideshow window; created hidden at start-up. For now it only
// records the slideshow files it is asked to prepare.
class TSlideShowForm : public QWidget {
public:
    explicit TSlideShowForm(TAppContext& context);
    ~TSlideShowForm() override;

    void OpenSlideshowFile(const QString& path);
    [[nodiscard]] const QStringList& PreparedFiles() const { return m_preparedFiles; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TAppContext& m_context;
    QStringList m_preparedFiles;
};
