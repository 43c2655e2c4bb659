#pragma once

// The viewer window on a private folder of pictures, shown and pumped until loads end.

#include "app/AppContext.h"
#include "common/TestSupport.h"
#include "gfx/ImgView32Widget.h"
#include "viewer/FormVekMain.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <memory>

namespace pictrel::test {

// A solid picture with an optional second colour on its right half.
inline QString WritePicture(const QString& path, QRgb colour, int w = 64, int h = 48,
                            QRgb right = 0) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    if (right != 0)
        for (int y = 0; y < h; ++y)
            for (int x = w / 2; x < w; ++x) image.setPixel(x, y, right);
    EXPECT_TRUE(image.save(path, "PNG")) << path.toStdString();
    return path;
}

class ViewerWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        Restart();
    }

    void Restart() {
        m_form.reset();
        m_form = std::make_unique<TMainForm>(m_context);
        m_form->Commands.Confirm = [this](const QString& q) {
            m_questions.append(q);
            return true;
        };
        m_form->Commands.Warn = [this](const QString& m) { m_warnings.append(m); };
        m_form->resize(400, 300);
        m_form->show();
    }

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    // Waits until `name` is shown (or failed) and the folder listing is in.
    bool WaitShown(const QString& name) {
        return PumpUntil([&] {
            return (m_form->ImageLoaded || m_form->LoadFailed) && !m_form->ShowOnLoad &&
                   !m_form->Listing() &&
                   m_form->windowTitle() == name + QStringLiteral(" - Pictrel");
        });
    }

    QImage Grab() const { return m_form->ImgView32->grab().toImage(); }
    QRgb Centre() const {
        const QImage image = Grab();
        return image.pixel(image.width() / 2, image.height() / 2);
    }

    QTemporaryDir m_dir;
    TAppContext m_context;
    std::unique_ptr<TMainForm> m_form;
    QStringList m_questions, m_warnings;
};

} // namespace pictrel::test
