#pragma once

#include "gfx/Bitmap32.h"
#include "loading/VekImageLoaderPro.h"

#include <QString>
#include <QWidget>

// The wizard's picture preview: the focused file decoded on the loader's worker and
// fitted there into the box, shown turned by the preview's own angle with a soft shadow
// and a frame; "No preview available" when nothing is focused, "Can't open image" when
// the file cannot be read, and the file's name with the progress while it loads.
class TWizardPreview : public QWidget {
public:
    explicit TWizardPreview(QWidget* parent = nullptr);
    ~TWizardPreview() override;

    // Loads `file` (empty: nothing to preview).
    void ShowFile(const QString& file);
    // The preview's own turn in degrees (a multiple of 90); it changes nothing else.
    void SetAngle(int angle);
    [[nodiscard]] int Angle() const { return m_angle; }

    [[nodiscard]] bool Available() const { return !m_picture.Empty(); }
    [[nodiscard]] bool Loading() const { return m_loading; }
    [[nodiscard]] const QString& ErrorText() const { return m_error; }
    [[nodiscard]] const TBitmap32& Picture() const { return m_picture; }

    static constexpr int kSide = 185;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TVekImageLoaderPro m_loader;
    TBitmap32 m_picture;
    QString m_file;
    QString m_error;
    int m_angle = 0;
    int m_percent = 0;
    bool m_loading = false;
};
