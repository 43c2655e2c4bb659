#pragma once

#include "app/BackgroundWork.h"
#include "app/WallpaperStyle.h"

#include <QString>
#include <QStringList>

#include <functional>

class QPrinter;
class QWidget;
class TBitmap32;

// The viewer's commands on the file on screen: delete (or move to the trash), print,
// edit with a desktop editor, set as wallpaper. Each acts only on the picture the user
// sees, and only while it is the list's current entry (the window says which that is);
// a failure is a warning that names the file.
class TViewerCommands {
public:
    // The picture on screen as the commands see it.
    struct TShown {
        // Empty when nothing is on screen or the picture is not the list's current entry.
        QString File;
        const TBitmap32* Picture = nullptr;
        // Its turn in degrees, as shown.
        int Angle = 0;
    };
    struct THost {
        std::function<TShown()> Shown;
        // Deletion moves to the trash.
        std::function<bool()> DeleteToTrash;
        // `path` was deleted (the window steps on).
        std::function<void(const QString& path)> Deleted;
        // A command's state changed (a wallpaper is being set, or no longer).
        std::function<void()> Changed;
    };
    TViewerCommands(QWidget& window, THost host);
    ~TViewerCommands();
    TViewerCommands(const TViewerCommands&) = delete;
    TViewerCommands& operator=(const TViewerCommands&) = delete;

    // The Yes/No question before a deletion and the warning after a failed command;
    // message boxes unless replaced.
    std::function<bool(const QString& Question)> Confirm;
    std::function<void(const QString& Message)> Warn;
    // The print dialog on `printer`: true to print. The system dialog unless replaced.
    std::function<bool(QPrinter& printer)> PrintDialog;
    // Sets the desktop wallpaper on a worker thread: true when the desktop took it.
    // Filled by the composition root with the desktop's setter; without it the
    // wallpaper commands say that the wallpaper can't be set.
    std::function<bool(const TBitmap32& picture, TWallpaperStyle style, int screenW, int screenH)>
        WallpaperSetter;

    void Delete();
    // The same question and deletion for a file chosen elsewhere (the folder's grid).
    void DeleteFile(const QString& path);
    void Print();
    // Starts the desktop's editor of the file. The installed editors are read on a
    // worker first when they are not known yet (the editor then starts once they are).
    void Edit();
    // The same for a file chosen elsewhere (the folder's grid).
    void EditPath(const QString& file);
    // Reads the installed editors on a worker while the user looks, so that "Edit"
    // itself reads nothing.
    void PrepareEdit();
    // The picture, turned as shown, as the desktop wallpaper in `style`, on a worker.
    void SetWallpaper(TWallpaperStyle style);
    // The picture, turned as shown, to the clipboard as a PNG image and as the file's
    // URI (made on a worker: a large picture takes a moment to pack).
    void CopyPicture();
    // The file's path to the clipboard as text.
    void CopyPath();
    // Paths to the clipboard as text (one a line) and as file URIs.
    static void CopyPaths(const QStringList& files);
    // Whether a wallpaper is being set now.
    [[nodiscard]] bool SettingWallpaper() const { return m_settingWallpaper; }
    // Prints the picture on screen, turned as shown, fitted to the printable page.
    bool PrintShownPicture(QPrinter& printer);
    // A message box titled "Pictrel" unless Warn replaces it.
    void ShowWarning(const QString& message);
    // Cancels and joins the work on workers (the window is going).
    void Shutdown() {
        m_shellWork.Shutdown();
        m_editWork.Shutdown();
        m_copyWork.Shutdown();
    }

private:
    void EditNow(const QString& file);

    QWidget& m_window;
    THost m_host;
    // Desktop commands that may take seconds (the wallpaper setters).
    TBackgroundWork m_shellWork;
    // Reads the desktop entries "Edit" chooses from.
    TBackgroundWork m_editWork;
    // Packs the picture for the clipboard; a newer copy replaces an older one.
    TBackgroundWork m_copyWork;
    bool m_settingWallpaper = false;
};
