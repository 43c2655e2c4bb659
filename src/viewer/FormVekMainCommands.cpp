// The viewer's commands on the shown file: print, edit, wallpaper.

#include "gfx/ImgView32Widget.h"
#include "viewer/FormVekMain.h"
#include "viewer/PrintLayout.h"

#include <QAction>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

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
    if (!ValidIndex(FileIndex)) return;
    const QString file = FileList[FileIndex];
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

void TMainForm::ShowWarning(const QString& message) {
    if (Warn)
        Warn(message);
    else
        QMessageBox::warning(this, QStringLiteral("Pictrel"), message);
}
