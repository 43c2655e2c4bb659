#include "viewer/FormViewerCommands.h"

#include "app/DesktopEntries.h"
#include "gfx/BitmapOps.h"
#include "viewer/PrintLayout.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

TViewerCommands::TViewerCommands(QWidget& window, THost host)
    : m_window(window), m_host(std::move(host)) {}

TViewerCommands::~TViewerCommands() {
    Shutdown();
}

void TViewerCommands::Delete() {
    DeleteFile(m_host.Shown().File);
}

void TViewerCommands::DeleteFile(const QString& path) {
    if (path.isEmpty()) return;
    const bool toTrash = m_host.DeleteToTrash();
    const QString question =
        (toTrash ? QStringLiteral("Are you sure you want to move to the trash\n")
                 : QStringLiteral("Are you sure you want to delete\n")) +
        QDir::toNativeSeparators(path);
    if (!(Confirm ? Confirm(question)
                  : QMessageBox::question(&m_window, QStringLiteral("Pictrel"), question,
                                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes))
        return;
    // The file asked about, whatever happened to the list while the question was open.
    QFile file(path);
    if (!(toTrash ? file.moveToTrash() : file.remove())) {
        ShowWarning((toTrash ? QStringLiteral("Can't move file to the trash\n")
                             : QStringLiteral("Can't delete file\n")) +
                    QDir::toNativeSeparators(path) + u'\n' + file.errorString());
        return;
    }
    m_host.Deleted(path);
}

bool TViewerCommands::PrintShownPicture(QPrinter& printer) {
    const TShown shown = m_host.Shown();
    if (shown.Picture == nullptr || shown.Picture->Empty()) return false;
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const bool painted = PaintPrintedPicture(painter, shown.Picture->ImageView(), shown.Angle,
                                             QRectF(QPointF(0, 0), page.size()));
    return painter.end() && painted;
}

void TViewerCommands::Print() {
    const QString file = m_host.Shown().File;
    if (file.isEmpty()) return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QFileInfo(file).fileName());
    if (PrintDialog) {
        if (!PrintDialog(printer)) return;
    } else {
        QPrintDialog dialog(&printer, &m_window);
        if (dialog.exec() != QDialog::Accepted) return;
    }
    // The file may have gone since it was shown: there is nothing to print then.
    if (!QFileInfo::exists(file) || !PrintShownPicture(printer))
        ShowWarning(QStringLiteral("Can't print file"));
}

void TViewerCommands::PrepareEdit() {
    m_editWork.RunLatest([](const TJobStop&) { (void)CachedDesktopEntries(); }, [] {});
}

void TViewerCommands::Edit() {
    EditPath(m_host.Shown().File);
}

void TViewerCommands::EditPath(const QString& file) {
    if (file.isEmpty()) return;
    if (DesktopEntriesCached()) {
        EditNow(file);
        return;
    }
    m_editWork.RunLatest([](const TJobStop&) { (void)CachedDesktopEntries(); },
                         [this, file] { EditNow(file); });
}

void TViewerCommands::EditNow(const QString& file) {
    const int result = EditFile(file);
    if (result == kShellNoAssociation)
        ShowWarning(QStringLiteral("No association with this file type"));
    else if (result <= 32)
        ShowWarning(QStringLiteral("Can't edit file"));
}

void TViewerCommands::SetWallpaper(TWallpaperStyle style) {
    const TShown shown = m_host.Shown();
    if (shown.Picture == nullptr || shown.Picture->Empty() || m_settingWallpaper) return;
    // The optimal layout fills the screen the window is on, in device pixels.
    const QScreen* place = m_window.screen();
    const QSize size = place != nullptr
                           ? (QSizeF(place->size()) * place->devicePixelRatio()).toSize()
                           : QSize(1920, 1080);
    auto setter = WallpaperSetter;
    if (!setter) {
        ShowWarning(QStringLiteral("Can't set the wallpaper on this desktop"));
        return;
    }
    // The worker gets its own copy: the view may move on to the next picture meanwhile.
    auto picture = std::make_shared<TBitmap32>();
    picture->Assign(*shown.Picture);
    m_settingWallpaper = true;
    m_host.Changed();
    const int angle = shown.Angle;
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
            m_host.Changed();
            if (!done) ShowWarning(QStringLiteral("Can't set the wallpaper on this desktop"));
        });
}

void TViewerCommands::CopyPicture() {
    const TShown shown = m_host.Shown();
    if (shown.File.isEmpty() || shown.Picture == nullptr || shown.Picture->Empty()) return;
    auto picture = std::make_shared<TBitmap32>();
    picture->Assign(*shown.Picture);
    const int angle = shown.Angle;
    const QString file = shown.File;
    // PNG, packed fast: the clipboard hands these bytes to whoever pastes, and the
    // toolkit would otherwise pack the picture on the GUI thread at the paste.
    m_copyWork.RunLatest(
        [picture, angle](const TJobStop&) {
            TBitmap32 turned;
            TurnQuarter(*picture, turned, angle);
            const QImage image = turned.ImageView().convertToFormat(
                turned.IsOpaque() ? QImage::Format_RGB32 : QImage::Format_ARGB32);
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "png");
            writer.setQuality(80); // the fastest packing that still packs
            if (!writer.write(image)) png.clear();
            return png;
        },
        [this, file](const QByteArray& png) {
            if (png.isEmpty()) {
                ShowWarning(QStringLiteral("Can't copy the picture\n") +
                            QDir::toNativeSeparators(file));
                return;
            }
            auto* data = new QMimeData;
            data->setData(QStringLiteral("image/png"), png);
            data->setUrls({QUrl::fromLocalFile(file)});
            QGuiApplication::clipboard()->setMimeData(data);
        });
}

void TViewerCommands::CopyPath() {
    const QString file = m_host.Shown().File;
    if (!file.isEmpty()) QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(file));
}

void TViewerCommands::CopyPaths(const QStringList& files) {
    if (files.isEmpty()) return;
    auto* data = new QMimeData;
    QStringList paths;
    QList<QUrl> urls;
    for (const QString& file : files) {
        paths << QDir::toNativeSeparators(file);
        urls << QUrl::fromLocalFile(file);
    }
    data->setUrls(urls);
    data->setText(paths.join(u'\n'));
    QGuiApplication::clipboard()->setMimeData(data);
}

void TViewerCommands::ShowWarning(const QString& message) {
    if (Warn)
        Warn(message);
    else
        QMessageBox::warning(&m_window, QStringLiteral("Pictrel"), message);
}
