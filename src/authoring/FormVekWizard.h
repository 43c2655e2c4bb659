#pragma once

#include "app/BackgroundWork.h"
#include "app/GuiThread.h"
#include "authoring/ImageTreeModel.h"
#include "show/VekAudioPlayer.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QListWidget;
class QPixmap;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolBar;
class QStackedWidget;
class QTreeView;
class TAppContext;
class TEffectPreview;
class TWizardPreview;
class TVekSettingsFile;

// The slideshow wizard: the pictures, the music and the settings of a slideshow on three
// pages, loaded from and saved to slideshow files, and Finish to watch it. It edits the
// run's slideshow description (lent at construction by the composition root): its pages
// are filled from it when shown and written back on saving and finishing.
class TWizardForm : public QWidget {
public:
    TWizardForm(TAppContext& context, TVekSettingsFile& slideshow);
    ~TWizardForm() override;

    // Components.
    QStackedWidget* Pages = nullptr;
    QTreeView* ImageFilesVirtualDrawTree = nullptr;
    TImageTreeModel* ImageModel = nullptr;
    QCheckBox* SortImageCheckBox = nullptr;
    TWizardPreview* PreviewImgView32 = nullptr;
    QAction* UpImageAction = nullptr;
    QAction* DownImageAction = nullptr;
    QAction* ZoomFitAction = nullptr;
    QAction* ActualSizeAction = nullptr;
    QAction* ZoomInAction = nullptr;
    QAction* ZoomOutAction = nullptr;
    QAction* RotateLeftAction = nullptr;
    QAction* RotateRightAction = nullptr;
    QListWidget* MusicFilesVirtualDrawTree = nullptr;
    QCheckBox* SortMusicCheckBox = nullptr;
    QCheckBox* ShuffleCheckBox = nullptr;
    QCheckBox* RepeatAllCheckBox = nullptr;
    QAction* UpMusicAction = nullptr;
    QAction* DownMusicAction = nullptr;
    // The music preview.
    TVekAudioPlayer VekAudioPlayer;
    QAction* PreviousMusicAction = nullptr;
    QAction* PlayMusicAction = nullptr;
    QAction* PauseMusicAction = nullptr;
    QAction* StopMusicAction = nullptr;
    QAction* NextMusicAction = nullptr;
    QSlider* MusicTrackBar = nullptr;
    QLabel* FileNameLabel = nullptr;
    QLabel* LengthLabel = nullptr;
    QLabel* PositionLabel = nullptr;
    QComboBox* EffectComboBox = nullptr;
    TEffectPreview* EffectPreview = nullptr;
    QSpinBox* TimerDelayLMDSpinEdit = nullptr;
    QPushButton* BackButton = nullptr;
    QPushButton* NextButton = nullptr;
    QPushButton* FinishButton = nullptr;
    QPushButton* CancelButton = nullptr;
    // Shown while folders are being listed.
    QProgressBar* ListingProgress = nullptr;
    // Set when the viewer opened the wizard: closing it shows the viewer again.
    bool ReturnToViewer = false;

    // The pages from the shared description, and back.
    void FillPages();
    void CollectPages(TVekSettingsFile& target) const;
    // A slideshow file, or a picture or folder to start from.
    void OpenInWizard(const QString& path);
    // Adds pictures or music (files or folders) as chosen or dropped; folders are listed
    // on a worker, and the list grows when that is done.
    void AddImages(const QStringList& paths, bool remember = true);
    void AddMusic(const QStringList& paths, bool remember = true);
    // Whether a folder is being listed.
    [[nodiscard]] bool Listing() const { return m_listing > 0; }
    // The steps of the commands, as the toolbars and keys call them.
    void RemoveImages();
    void RemoveMusic();
    void MoveImages(bool up);
    void MoveMusic(bool up);
    void InvertImageSelection();
    void InvertMusicSelection();
    void GoToPage(int page);
    // The music preview: the focused track opens; Next and Previous play the neighbour.
    void MusicFocusChanged();
    void StepMusic(int by);
    // The picture preview follows the focused node; the turns are the preview's own.
    void ImageFocusChanged();
    void RotatePreview(int by);
    // Starts the show from the pages; while folders are being listed, once they are.
    void Finish();
    // Loads a slideshow file (the pages show what it holds, or what was there when it
    // could not be read); false when it could not.
    bool LoadSlideshow(const QString& file);
    // The "Save slideshow" button: asks for a name and saves once no folder is being
    // listed any more; a failure is shown.
    void SaveSlideshowClick();
    // Saves the pages; ".VekSS" is added when the name does not end so. Throws
    // std::runtime_error when writing fails (nothing half-written is left).
    QString SaveSlideshow(const QString& file);

    // The file dialogs, replaceable by tests: the chosen names, or none.
    std::function<QStringList()> AskImages;
    std::function<QStringList()> AskMusic;
    std::function<QString()> AskLoadFile;
    // Given the "Save slideshow" dialog as it would be shown.
    std::function<QString(QFileDialog&)> AskSaveFile;
    // Whether an existing file the save dialog did not name may be replaced.
    std::function<bool(const QString&)> AskReplace;
    // The window's port, filled by the composition root. The turn the viewer
    // remembers for a picture (the preview starts each picture so); playing the
    // description (Finish: without it Finish only collects the pages); showing the
    // viewer again (when the viewer opened the wizard).
    std::function<int(const QString&)> RotationOf;
    std::function<void()> PlaySlideShow;
    std::function<void()> ShowViewer;
    // Shows a message to the user (a message box unless replaced).
    std::function<void(const QString&)> Warn;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* CreatePicturesPage();
    QWidget* CreateMusicPage();
    QWidget* CreateSettingsPage();
    QWidget* PageFrame(const char* step, const char* text, QWidget* body, const char* logo);
    // A command with its caption (also its tool tip), the compiled-in picture `icon` (or
    // none) and a place on `bar` (or none); its keys work within `owner`.
    QAction* MakeAction(const char* caption, const char* icon, QWidget* owner, QToolBar* bar);
    void UpdatePreviewActions();
    void UpdateButtons();
    void ListFolders(const QStringList& paths, bool pictures);
    // Runs `action` now, or when the folders being listed are in the lists.
    void WhenListed(std::function<void()> action);
    void SelectImageRefs(const std::vector<TImageTreeModel::TRef>& refs);
    void AppendMusicFiles(const QStringList& files);
    QWidget* CreateMusicPreview(QWidget* page);
    void UpdateMusicButtons();

    TAppContext& m_context;
    // The description being edited (the root's; it outlives the window).
    TVekSettingsFile& m_slideshow;
    int m_listing = 0;
    // Counts the fillings of the lists; a listing started for an earlier one is stale.
    std::uint64_t m_fillGeneration = 0;
    // Finish or Save, waiting for the listings to end.
    std::function<void()> m_whenListed;
    // The next focus change starts playing (Next and Previous).
    bool m_playOnFocus = false;
    bool m_movingMusic = false; // Up or Down is moving rows
    // Pictures to draw on first showing, and where each goes.
    std::vector<std::pair<std::function<void(const QPixmap&)>, const char*>> m_pictures;
    TDeliveryGuard m_guard;
    // Folder listings of Add and of filling the lists, one after another.
    TBackgroundWork m_listWork;
};
