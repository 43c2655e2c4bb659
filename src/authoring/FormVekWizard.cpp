#include "authoring/FormVekWizard.h"

#include "app/AppContext.h"
#include "authoring/CurrentSlideshow.h"
#include "authoring/WizardPreviewWidget.h"
#include "loading/ImageFilter.h"
#include "slideshow/EffectPreviewWidget.h"
#include "slideshow/FormVekSlideShow.h"
#include "slideshow/TransformerByName.h"
#include "slideshow/VekRandomTransform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QThreadPool>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

constexpr int kMaxDelaySeconds = 24 * 60 * 60;

const char kMusicFilter[] = "All audio files (*.wma,*.mp3,*.wav)|*.wma;*.mp3;*.wav|Windows media "
                            "audio (*.wma)|*.wma|MPEG 3 (*.mp3)|*.mp3|Wav (*.wav)|*.wav|";
const char kSlideshowFilter[] = "Vek slide show settings (*.VekSS)|*.VekSS|";

bool IsFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

} // namespace

TWizardForm::TWizardForm(TAppContext& context) : m_context(context) {
    setWindowTitle(QStringLiteral("Slideshow wizard"));
    setAcceptDrops(true);

    Pages = new QStackedWidget(this);
    Pages->addWidget(PageFrame("Step 1.", "Add image files to list.", CreatePicturesPage()));
    Pages->addWidget(PageFrame("Step 2.", "Add media files to list.", CreateMusicPage()));
    Pages->addWidget(PageFrame("Step 3.", "Settings.", CreateSettingsPage()));

    auto* load = new QPushButton(QStringLiteral("Load slide show"), this);
    load->setToolTip(QStringLiteral("Load slideshow"));
    auto* save = new QPushButton(QStringLiteral("Save slideshow"), this);
    BackButton = new QPushButton(QStringLiteral("< &Back"), this);
    NextButton = new QPushButton(QStringLiteral("&Next >"), this);
    FinishButton = new QPushButton(QStringLiteral("Finish"), this);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(load);
    buttons->addWidget(save);
    buttons->addStretch();
    for (QPushButton* b : {BackButton, NextButton, FinishButton, CancelButton})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Pages);
    layout->addLayout(buttons);

    connect(BackButton, &QPushButton::clicked, this,
            [this] { GoToPage(Pages->currentIndex() - 1); });
    connect(NextButton, &QPushButton::clicked, this,
            [this] { GoToPage(Pages->currentIndex() + 1); });
    connect(FinishButton, &QPushButton::clicked, this, &TWizardForm::Finish);
    connect(CancelButton, &QPushButton::clicked, this, &QWidget::close);
    connect(load, &QPushButton::clicked, this, [this] {
        const QString file = AskLoadFile
                                 ? AskLoadFile()
                                 : QFileDialog::getOpenFileName(
                                       this, QStringLiteral("Load slideshow"), QString(),
                                       FileDialogFilter(QString::fromLatin1(kSlideshowFilter)));
        if (!file.isEmpty()) LoadSlideshow(file);
    });
    connect(save, &QPushButton::clicked, this, [this] {
        const QString file = AskSaveFile
                                 ? AskSaveFile()
                                 : QFileDialog::getSaveFileName(
                                       this, QStringLiteral("Save slideshow"), QString(),
                                       FileDialogFilter(QString::fromLatin1(kSlideshowFilter)));
        if (file.isEmpty()) return;
        try {
            SaveSlideshow(file);
        } catch (const std::exception& e) {
            const QString message = QStringLiteral("Can't save slideshow\n") + file + u'\n' +
                                    QString::fromUtf8(e.what());
            if (Warn)
                Warn(message);
            else
                QMessageBox::warning(this, QStringLiteral("Pictrel"), message);
        }
    });
    resize(640, 420);
    UpdateButtons();
}

TWizardForm::~TWizardForm() {
    m_guard.Revoke();
}

QWidget* TWizardForm::PageFrame(const char* step, const char* text, QWidget* body) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* title = new QLabel(
        QStringLiteral("<b>%1</b> %2").arg(QString::fromLatin1(step), QString::fromLatin1(text)),
        page);
    layout->addWidget(title);
    layout->addWidget(body, 1);
    return page;
}

namespace {

QPushButton* AddButton(QLayout* layout, QWidget* parent, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    layout->addWidget(b);
    return b;
}

} // namespace

QWidget* TWizardForm::CreatePicturesPage() {
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    ImageModel = new TImageTreeModel(this);
    auto icons = std::make_shared<QFileIconProvider>();
    ImageModel->IconOf = [icons](const QString& path, bool folder) -> QVariant {
        return folder ? icons->icon(QFileIconProvider::Folder) : icons->icon(QFileInfo(path));
    };
    ImageFilesVirtualDrawTree = new QTreeView(page);
    ImageFilesVirtualDrawTree->setModel(ImageModel);
    ImageFilesVirtualDrawTree->setHeaderHidden(true);
    ImageFilesVirtualDrawTree->setAlternatingRowColors(true);
    ImageFilesVirtualDrawTree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ImageFilesVirtualDrawTree->setDragEnabled(false);
    ImageFilesVirtualDrawTree->setToolTip(QStringLiteral("Double click to add image files"));
    connect(ImageFilesVirtualDrawTree, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) {
                if (!index.isValid()) AddImages(AskImages ? AskImages() : QStringList());
            });
    layout->addWidget(ImageFilesVirtualDrawTree, 1);

    auto* tools = new QVBoxLayout;
    connect(AddButton(tools, page, "Add images"), &QPushButton::clicked, this, [this] {
        AddImages(AskImages ? AskImages()
                            : QFileDialog::getOpenFileNames(
                                  this, QStringLiteral("Add images"), QString(),
                                  FileDialogFilter(GetImageFilter(true, true, true, true))));
    });
    connect(AddButton(tools, page, "Remove images"), &QPushButton::clicked, this,
            &TWizardForm::RemoveImages);
    connect(AddButton(tools, page, "Select all"), &QPushButton::clicked, ImageFilesVirtualDrawTree,
            &QTreeView::selectAll);
    connect(AddButton(tools, page, "Invert selection"), &QPushButton::clicked, this,
            &TWizardForm::InvertImageSelection);
    connect(AddButton(tools, page, "Up"), &QPushButton::clicked, this,
            [this] { MoveImages(true); });
    connect(AddButton(tools, page, "Down"), &QPushButton::clicked, this,
            [this] { MoveImages(false); });
    connect(ImageFilesVirtualDrawTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { ImageFocusChanged(); });
    connect(ImageModel, &QAbstractItemModel::modelReset, this, [this] { ImageFocusChanged(); });
    SortImageCheckBox = new QCheckBox(QStringLiteral("Sort image files"), page);
    connect(SortImageCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        ImageModel->SetSorted(on);
        ImageFilesVirtualDrawTree->expandAll();
    });
    tools->addWidget(SortImageCheckBox);
    tools->addStretch();
    layout->addLayout(tools);

    auto* preview = new QVBoxLayout;
    PreviewImgView32 = new TWizardPreview(page);
    preview->addWidget(PreviewImgView32);
    auto* turns = new QHBoxLayout;
    connect(AddButton(turns, page, "Rotate left"), &QPushButton::clicked, this,
            [this] { RotatePreview(90); });
    connect(AddButton(turns, page, "Rotate right"), &QPushButton::clicked, this,
            [this] { RotatePreview(-90); });
    preview->addLayout(turns);
    preview->addStretch();
    layout->addLayout(preview);
    return page;
}

void TWizardForm::ImageFocusChanged() {
    const TImageTreeModel::TRef ref = ImageModel->RefOf(ImageFilesVirtualDrawTree->currentIndex());
    const TImageFileTree::TNode* node = ImageModel->Tree().Node(ref);
    if (node == nullptr || ref.Child < 0) {
        PreviewImgView32->ShowFile(QString());
        return;
    }
    PreviewImgView32->ShowFile(node->Path);
    PreviewImgView32->SetAngle(node->Angle);
}

void TWizardForm::RotatePreview(int by) {
    const TImageTreeModel::TRef ref = ImageModel->RefOf(ImageFilesVirtualDrawTree->currentIndex());
    const TImageFileTree::TNode* node = ImageModel->Tree().Node(ref);
    if (node == nullptr || ref.Child < 0 || !PreviewImgView32->Available()) return;
    const int angle = ((node->Angle + by) % 360 + 360) % 360;
    ImageModel->SetAngle(ref, angle);
    PreviewImgView32->SetAngle(angle);
}

QWidget* TWizardForm::CreateMusicPage() {
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    auto* left = new QVBoxLayout;
    MusicFilesVirtualDrawTree = new QListWidget(page);
    MusicFilesVirtualDrawTree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    MusicFilesVirtualDrawTree->setDragDropMode(QAbstractItemView::InternalMove);
    MusicFilesVirtualDrawTree->setAlternatingRowColors(true);
    MusicFilesVirtualDrawTree->setToolTip(QStringLiteral("Double click to add media files"));
    left->addWidget(MusicFilesVirtualDrawTree, 1);
    auto* options = new QHBoxLayout;
    ShuffleCheckBox = new QCheckBox(QStringLiteral("Shuffle"), page);
    RepeatAllCheckBox = new QCheckBox(QStringLiteral("Repeat all"), page);
    options->addWidget(ShuffleCheckBox);
    options->addWidget(RepeatAllCheckBox);
    options->addStretch();
    left->addLayout(options);
    left->addWidget(CreateMusicPreview(page));
    layout->addLayout(left, 1);
    connect(MusicFilesVirtualDrawTree, &QListWidget::currentItemChanged, this,
            [this] { MusicFocusChanged(); });
    connect(MusicFilesVirtualDrawTree, &QListWidget::itemDoubleClicked, this, [this] {
        MusicFocusChanged();
        VekAudioPlayer.Play();
        UpdateMusicButtons();
    });

    auto* tools = new QVBoxLayout;
    connect(AddButton(tools, page, "Add music"), &QPushButton::clicked, this, [this] {
        AddMusic(AskMusic ? AskMusic()
                          : QFileDialog::getOpenFileNames(
                                this, QStringLiteral("Add music"), QString(),
                                FileDialogFilter(QString::fromLatin1(kMusicFilter))));
    });
    connect(AddButton(tools, page, "Remove music"), &QPushButton::clicked, this,
            &TWizardForm::RemoveMusic);
    connect(AddButton(tools, page, "Select all"), &QPushButton::clicked, MusicFilesVirtualDrawTree,
            &QListWidget::selectAll);
    connect(AddButton(tools, page, "Invert selection"), &QPushButton::clicked, this,
            &TWizardForm::InvertMusicSelection);
    connect(AddButton(tools, page, "Up"), &QPushButton::clicked, this, [this] { MoveMusic(true); });
    connect(AddButton(tools, page, "Down"), &QPushButton::clicked, this,
            [this] { MoveMusic(false); });
    SortMusicCheckBox = new QCheckBox(QStringLiteral("Sort media files"), page);
    connect(SortMusicCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        MusicFilesVirtualDrawTree->setSortingEnabled(on);
        if (on) MusicFilesVirtualDrawTree->sortItems();
    });
    tools->addWidget(SortMusicCheckBox);
    tools->addStretch();
    layout->addLayout(tools);
    return page;
}

QWidget* TWizardForm::CreateMusicPreview(QWidget* page) {
    auto* box = new QWidget(page);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* controls = new QHBoxLayout;
    const auto button = [box, controls](const char* caption) {
        auto* b = new QToolButton(box);
        b->setText(QString::fromLatin1(caption));
        b->setToolTip(QString::fromLatin1(caption));
        controls->addWidget(b);
        return b;
    };
    PreviousMusicButton = button("Previous");
    PlayMusicButton = button("Play");
    PauseMusicButton = button("Pause");
    StopMusicButton = button("Stop");
    NextMusicButton = button("Next");
    PlayMusicButton->setCheckable(true);
    PauseMusicButton->setCheckable(true);
    MusicTrackBar = new QSlider(Qt::Horizontal, box);
    MusicTrackBar->setRange(0, 100);
    controls->addWidget(MusicTrackBar, 1);
    layout->addLayout(controls);
    auto* labels = new QHBoxLayout;
    labels->addWidget(new QLabel(QStringLiteral("File name:"), box));
    FileNameLabel = new QLabel(box);
    labels->addWidget(FileNameLabel, 1);
    labels->addWidget(new QLabel(QStringLiteral("Length:"), box));
    LengthLabel = new QLabel(box);
    labels->addWidget(LengthLabel);
    PositionLabel = new QLabel(box);
    PositionLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    PositionLabel->setMinimumWidth(48);
    labels->addWidget(PositionLabel);
    layout->addLayout(labels);

    connect(PlayMusicButton, &QToolButton::clicked, this, [this] {
        VekAudioPlayer.Play();
        UpdateMusicButtons();
    });
    connect(PauseMusicButton, &QToolButton::clicked, this, [this] {
        VekAudioPlayer.Pause();
        UpdateMusicButtons();
    });
    connect(StopMusicButton, &QToolButton::clicked, this, [this] {
        VekAudioPlayer.Stop();
        UpdateMusicButtons();
    });
    connect(NextMusicButton, &QToolButton::clicked, this, [this] { StepMusic(+1); });
    connect(PreviousMusicButton, &QToolButton::clicked, this, [this] { StepMusic(-1); });
    connect(MusicTrackBar, &QSlider::sliderReleased, this,
            [this] { VekAudioPlayer.SetPositionPercent(MusicTrackBar->value()); });
    VekAudioPlayer.OnPlay = [this](TVekAudioPlayer& player, int percent) {
        if (!MusicTrackBar->isSliderDown()) MusicTrackBar->setValue(percent);
        PositionLabel->setText(
            player.FormatTime(int(std::lround(player.Length() / 100.0 * percent))));
    };
    VekAudioPlayer.OnError = [this](TVekAudioPlayer&, const QString& error) {
        FileNameLabel->setText(error);
    };
    // A previewed track starts again until it is stopped.
    VekAudioPlayer.OnEndPlay = [](TVekAudioPlayer& player) { player.Seek(0); };
    UpdateMusicButtons();
    return box;
}

void TWizardForm::MusicFocusChanged() {
    const QListWidgetItem* item = MusicFilesVirtualDrawTree->currentItem();
    const bool play = m_playOnFocus;
    m_playOnFocus = false;
    if (item == nullptr) {
        VekAudioPlayer.Close();
        FileNameLabel->clear();
        LengthLabel->clear();
        PositionLabel->clear();
    } else {
        FileNameLabel->clear();
        VekAudioPlayer.Open(item->data(Qt::UserRole).toString());
        if (VekAudioPlayer.Opened()) {
            FileNameLabel->setText(VekAudioPlayer.Title());
            LengthLabel->setText(VekAudioPlayer.FormatTime(VekAudioPlayer.Length()));
            if (play) VekAudioPlayer.Play();
        }
    }
    UpdateMusicButtons();
}

void TWizardForm::StepMusic(int by) {
    const int count = MusicFilesVirtualDrawTree->count();
    if (count == 0) return;
    const int row = MusicFilesVirtualDrawTree->currentRow();
    const int next = row < 0 ? 0 : row + by;
    if (next < 0 || next >= count) return;
    m_playOnFocus = true;
    MusicFilesVirtualDrawTree->clearSelection();
    MusicFilesVirtualDrawTree->setCurrentRow(next);
}

void TWizardForm::UpdateMusicButtons() {
    const bool opened = VekAudioPlayer.Opened();
    PlayMusicButton->setEnabled(opened);
    StopMusicButton->setEnabled(opened);
    PauseMusicButton->setEnabled(opened);
    PlayMusicButton->setChecked(VekAudioPlayer.Playing());
    PauseMusicButton->setChecked(VekAudioPlayer.Paused());
    const int row = MusicFilesVirtualDrawTree->currentRow();
    const int count = MusicFilesVirtualDrawTree->count();
    NextMusicButton->setEnabled(count > 0 && row + 1 < count);
    PreviousMusicButton->setEnabled(count > 0 && row != 0);
}

QWidget* TWizardForm::CreateSettingsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* effect = new QHBoxLayout;
    effect->addWidget(new QLabel(QStringLiteral("Effect:"), page));
    EffectPreview = new TEffectPreview(page);
    EffectPreview->setFixedSize(200, 150);
    EffectComboBox = new QComboBox(page);
    EffectComboBox->addItems(EffectPreview->EffectNames());
    connect(EffectComboBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { EffectPreview->SetEffectIndex(index); });
    effect->addWidget(EffectComboBox, 1);
    layout->addLayout(effect);
    auto* preview = new QHBoxLayout;
    preview->addWidget(new QLabel(QStringLiteral("Preview:"), page));
    preview->addWidget(EffectPreview);
    preview->addStretch();
    layout->addLayout(preview);
    auto* delay = new QHBoxLayout;
    delay->addWidget(new QLabel(QStringLiteral("Timer delay:"), page));
    TimerDelayLMDSpinEdit = new QSpinBox(page);
    TimerDelayLMDSpinEdit->setRange(0, kMaxDelaySeconds);
    delay->addWidget(TimerDelayLMDSpinEdit);
    delay->addWidget(new QLabel(QStringLiteral("s"), page));
    delay->addStretch();
    layout->addLayout(delay);
    layout->addStretch();
    return page;
}

// ---- pages and the shared description -----------------------------------------------

void TWizardForm::FillPages() {
    const TVekSettingsFile* slideshow = CurrentSlideshow();
    if (slideshow == nullptr) return;
    ImageModel->Clear();
    MusicFilesVirtualDrawTree->clear();
    AddImages(slideshow->ImageList, false);
    AddMusic(slideshow->MusicList, false);
    TimerDelayLMDSpinEdit->setValue(int(std::nearbyint(slideshow->Delay / 1000.0)));
    int effect = -1;
    if (slideshow->Transformer) effect = EffectComboBox->findText(slideshow->Transformer->Name);
    EffectComboBox->setCurrentIndex(effect);
    EffectPreview->SetEffectIndex(effect);
    ShuffleCheckBox->setChecked(slideshow->Shuffle);
    RepeatAllCheckBox->setChecked(slideshow->RepeatAll);
}

void TWizardForm::CollectPages(TVekSettingsFile& target) const {
    target.Delay = TimerDelayLMDSpinEdit->value() * 1000;
    target.Transformer = TransformerByName(
        EffectComboBox->currentIndex() >= 0 ? EffectComboBox->currentText() : QString());
    if (!target.Transformer) target.Transformer = std::make_unique<TVekRandomTransform>();
    target.Shuffle = ShuffleCheckBox->isChecked();
    target.RepeatAll = RepeatAllCheckBox->isChecked();
    target.ImageList = ImageModel->Tree().ExplicitPaths();
    target.MusicList.clear();
    for (int i = 0; i < MusicFilesVirtualDrawTree->count(); ++i)
        target.MusicList << MusicFilesVirtualDrawTree->item(i)->data(Qt::UserRole).toString();
}

void TWizardForm::OpenInWizard(const QString& path) {
    TVekSettingsFile* slideshow = CurrentSlideshow();
    if (slideshow == nullptr) return;
    if (QFileInfo(path).suffix().compare(QStringLiteral("VekSS"), Qt::CaseInsensitive) == 0) {
        if (slideshow->LoadFromFile(path)) FillPages();
    } else {
        slideshow->ImageList = {path};
    }
}

bool TWizardForm::LoadSlideshow(const QString& file) {
    TVekSettingsFile* slideshow = CurrentSlideshow();
    if (slideshow == nullptr) return false;
    const bool loaded = slideshow->LoadFromFile(file);
    FillPages();
    if (!loaded) {
        // The lists stay as they were: say why nothing changed.
        const QString message = QStringLiteral("Can't open slideshow file\n") + file;
        if (Warn)
            Warn(message);
        else
            QMessageBox::warning(this, QStringLiteral("Pictrel"), message);
    }
    return loaded;
}

QString TWizardForm::SaveSlideshow(const QString& file) {
    QString name = file;
    if (QFileInfo(name).suffix() != QLatin1String("VekSS")) name += QStringLiteral(".VekSS");
    TVekSettingsFile* slideshow = CurrentSlideshow();
    if (slideshow == nullptr) return {};
    CollectPages(*slideshow);
    slideshow->SaveToFile(name);
    return name;
}

// ---- adding -------------------------------------------------------------------------

void TWizardForm::AddImages(const QStringList& paths, bool remember) {
    if (paths.isEmpty()) return;
    if (remember)
        if (TVekSettingsFile* slideshow = CurrentSlideshow()) slideshow->ImageList << paths;
    ListFolders(paths, true);
}

void TWizardForm::AddMusic(const QStringList& paths, bool remember) {
    if (paths.isEmpty()) return;
    if (remember)
        if (TVekSettingsFile* slideshow = CurrentSlideshow()) slideshow->MusicList << paths;
    ListFolders(paths, false);
}

void TWizardForm::ListFolders(const QStringList& paths, bool pictures) {
    ++m_listing;
    setCursor(Qt::BusyCursor);
    // A folder of thousands of files is listed on a worker; the window stays usable.
    QThreadPool::globalInstance()->start([this, paths, pictures, token = m_guard.GetToken()] {
        QStringList files = ExpandFileList(
            paths, true, pictures ? ImageExtensions() : QString::fromLatin1(kMusicExtensions));
        std::set<QString> folders;
        for (const QString& p : paths)
            if (IsFolder(p)) folders.insert(p);
        PostToGuiThread(token, [this, paths, pictures, folders, files = std::move(files)] {
            if (--m_listing == 0) unsetCursor();
            if (pictures) {
                const auto last = ImageModel->AddEntries(
                    paths, files, [&folders](const QString& p) { return folders.count(p) > 0; });
                ImageFilesVirtualDrawTree->expandAll();
                if (last) SelectImageRefs({*last});
            } else {
                AppendMusicFiles(files);
            }
            UpdateButtons();
        });
    });
}

void TWizardForm::AppendMusicFiles(const QStringList& files) {
    if (files.isEmpty()) return;
    QFileIconProvider icons;
    QListWidgetItem* last = nullptr;
    for (const QString& file : files) {
        last = new QListWidgetItem(icons.icon(QFileInfo(file)), QFileInfo(file).fileName());
        last->setData(Qt::UserRole, file);
        last->setToolTip(file);
        MusicFilesVirtualDrawTree->addItem(last);
    }
    MusicFilesVirtualDrawTree->clearSelection();
    MusicFilesVirtualDrawTree->setCurrentItem(last);
}

// ---- list commands --------------------------------------------------------------------

void TWizardForm::SelectImageRefs(const std::vector<TImageTreeModel::TRef>& refs) {
    QItemSelectionModel* selection = ImageFilesVirtualDrawTree->selectionModel();
    selection->clearSelection();
    for (const auto& ref : refs)
        selection->select(ImageModel->IndexOf(ref), QItemSelectionModel::Select);
    if (!refs.empty())
        selection->setCurrentIndex(ImageModel->IndexOf(refs.back()), QItemSelectionModel::NoUpdate);
}

void TWizardForm::RemoveImages() {
    QModelIndexList chosen = ImageFilesVirtualDrawTree->selectionModel()->selectedIndexes();
    if (chosen.isEmpty() && ImageFilesVirtualDrawTree->currentIndex().isValid())
        chosen << ImageFilesVirtualDrawTree->currentIndex();
    ImageModel->Remove(ImageModel->RefsOf(chosen));
    ImageFilesVirtualDrawTree->expandAll();
    UpdateButtons();
}

void TWizardForm::RemoveMusic() {
    QList<QListWidgetItem*> chosen = MusicFilesVirtualDrawTree->selectedItems();
    if (chosen.isEmpty() && MusicFilesVirtualDrawTree->currentItem() != nullptr)
        chosen << MusicFilesVirtualDrawTree->currentItem();
    for (QListWidgetItem* item : chosen) delete item;
    UpdateButtons();
}

void TWizardForm::InvertImageSelection() {
    QItemSelectionModel* selection = ImageFilesVirtualDrawTree->selectionModel();
    const QModelIndex current = ImageFilesVirtualDrawTree->currentIndex();
    std::optional<TImageTreeModel::TRef> focused;
    if (current.isValid()) focused = ImageModel->RefOf(current);
    const auto inverted =
        ImageModel->Tree().Inverted(ImageModel->RefsOf(selection->selectedIndexes()), focused);
    selection->clearSelection();
    for (const auto& ref : inverted)
        selection->select(ImageModel->IndexOf(ref), QItemSelectionModel::Select);
}

void TWizardForm::InvertMusicSelection() {
    for (int i = 0; i < MusicFilesVirtualDrawTree->count(); ++i) {
        QListWidgetItem* item = MusicFilesVirtualDrawTree->item(i);
        item->setSelected(!item->isSelected());
    }
}

void TWizardForm::MoveImages(bool up) {
    SortImageCheckBox->setChecked(false);
    const auto selected =
        ImageModel->RefsOf(ImageFilesVirtualDrawTree->selectionModel()->selectedIndexes());
    const auto moved = up ? ImageModel->MoveUp(selected) : ImageModel->MoveDown(selected);
    ImageFilesVirtualDrawTree->expandAll();
    SelectImageRefs(moved);
}

void TWizardForm::MoveMusic(bool up) {
    SortMusicCheckBox->setChecked(false);
    std::vector<int> rows;
    for (QListWidgetItem* item : MusicFilesVirtualDrawTree->selectedItems())
        rows.push_back(MusicFilesVirtualDrawTree->row(item));
    std::sort(rows.begin(), rows.end());
    const int count = MusicFilesVirtualDrawTree->count();
    if (rows.empty() || (up && rows.front() == 0) || (!up && rows.front() + 1 >= count)) return;
    const auto move = [this](int row, int to) {
        QListWidgetItem* item = MusicFilesVirtualDrawTree->takeItem(row);
        MusicFilesVirtualDrawTree->insertItem(to, item);
        item->setSelected(true);
    };
    if (up) {
        for (int row : rows)
            if (row > 0) move(row, row - 1);
    } else {
        for (auto it = rows.rbegin(); it != rows.rend(); ++it)
            if (*it + 1 < count) move(*it, *it + 1);
    }
}

// ---- pages, finishing, closing ----------------------------------------------------------

void TWizardForm::GoToPage(int page) {
    if (page < 0 || page >= Pages->count()) return;
    // Any page change stops a track being previewed.
    if (VekAudioPlayer.Playing()) {
        VekAudioPlayer.Stop();
        UpdateMusicButtons();
    }
    Pages->setCurrentIndex(page);
    UpdateButtons();
}

void TWizardForm::UpdateButtons() {
    const int page = Pages->currentIndex();
    BackButton->setEnabled(page > 0);
    NextButton->setEnabled(page + 1 < Pages->count());
}

void TWizardForm::Finish() {
    TVekSettingsFile* slideshow = CurrentSlideshow();
    if (slideshow == nullptr) return;
    CollectPages(*slideshow);
    VekAudioPlayer.Close();
    UpdateMusicButtons();
    PreviewImgView32->ShowFile(QString());
    if (TSlideShowForm* show = m_context.SlideShowForm) {
        show->StartFromWizard();
        hide();
    }
}

void TWizardForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    FillPages();
    GoToPage(0);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TWizardForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (ReturnToViewer) {
        ReturnToViewer = false;
        if (QWidget* viewer = reinterpret_cast<QWidget*>(m_context.MainForm)) viewer->show();
    }
    m_context.WindowClosed(this, event->isAccepted());
}

void TWizardForm::dragEnterEvent(QDragEnterEvent* event) {
    // Files are taken on the pictures and the music page only.
    if (Pages->currentIndex() < 2 && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TWizardForm::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (Pages->currentIndex() == 0)
        AddImages(paths);
    else if (Pages->currentIndex() == 1)
        AddMusic(paths);
    event->acceptProposedAction();
}
