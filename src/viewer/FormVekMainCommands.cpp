// The viewer's commands on the shown file: print, edit, wallpaper.

#include "app/DesktopEntries.h"
#include "app/GuiThread.h"
#include "gfx/BitmapOps.h"
#include "gfx/ImgView32Widget.h"
#include "viewer/FormVekMain.h"
#include "viewer/PrintLayout.h"

#include <QAction>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>

#include <cstdio>
#include <exception>
#include <memory>

bool TMainForm::PrintShownPicture(QPrinter& printer) {
    const TBitmap32& picture = ImgView32->Bitmap;
    if (picture.Empty()) return false;
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const bool painted = PaintPrintedPicture(painter, picture.ImageView(), Zoom.RotationAngle,
                                             QRectF(QPointF(0, 0), page.size()));
    return painter.end() && painted;
}

void TMainForm::PrintActionExecute() {
    if (!m_nav.ShownIsCurrent()) return;
    const QString file = m_nav.Shown();
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QFileInfo(file).fileName());
    if (PrintDialog) {
        if (!PrintDialog(printer)) return;
    } else {
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted) return;
    }
    // The file may have gone since it was shown: there is nothing to print then.
    if (!QFileInfo::exists(file) || !PrintShownPicture(printer))
        ShowWarning(QStringLiteral("Can't print file"));
}

void TMainForm::OpenEditActionExecute() {
    if (!m_nav.ShownIsCurrent()) return;
    const int result = EditFile(m_nav.Shown());
    if (result == kShellNoAssociation)
        ShowWarning(QStringLiteral("No association with this file type"));
    else if (result <= 32)
        ShowWarning(QStringLiteral("Can't edit file"));
}

void TMainForm::SetWallpaperExecute(TWallpaperStyle style) {
    const TBitmap32& shown = ImgView32->Bitmap;
    if (shown.Empty() || m_settingWallpaper) return;
    // The optimal layout fills the screen the window is on, in device pixels.
    const QScreen* place = screen();
    const QSize size = place != nullptr
                           ? (QSizeF(place->size()) * place->devicePixelRatio()).toSize()
                           : QSize(1920, 1080);
    // The worker gets its own copy: the view may move on to the next picture meanwhile.
    auto picture = std::make_shared<TBitmap32>();
    picture->Assign(shown);
    auto setter = WallpaperSetter;
    if (!setter) {
        ShowWarning(QStringLiteral("Can't set the wallpaper on this desktop"));
        return;
    }
    m_settingWallpaper = true;
    UpdateActions();
    const int angle = Zoom.RotationAngle;
    m_shellWork.Run(
        [picture, angle, style, size, setter = std::move(setter)](const TJobStop&) {
            bool done = false;
            try {
                TBitmap32 turned;
                TurnQuarter(*picture, turned, angle);
                done = setter(turned, style, size.width(), size.height());
            } catch (const std::exception& e) {
                std::fprintf(stderr, "pictrel: wallpaper: %s\n", e.what());
            }
            return done;
        },
        [this](bool done) {
            m_settingWallpaper = false;
            UpdateActions();
            if (!done) ShowWarning(QStringLiteral("Can't set the wallpaper on this desktop"));
        });
}

void TMainForm::ShowWarning(const QString& message) {
    if (Warn)
        Warn(message);
    else
        QMessageBox::warning(this, QStringLiteral("Pictrel"), message);
}
