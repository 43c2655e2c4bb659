#include "authoring/FormVekWizard.h"

#include "app/AppContext.h"
#include "authoring/WizardPreviewWidget.h"
#include "layers/ResourceLoader.h"
#include "loading/ImageFilter.h"
#include "show/EffectPreviewWidget.h"
#include "show/TransformerByName.h"
#include "show/VekRandomTransform.h"
#include "show/VekSettingsFile.h"

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
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

namespace {

constexpr int kMaxDelaySeconds = 24 * 60 * 60;

const char kMusicFilter[] = "All audio files (*.wma,*.mp3,*.wav)|*.wma;*.mp3;*.wav|Windows media "
                            "audio (*.wma)|*.wma|MPEG 3 (*.mp3)|*.mp3|Wav (*.wav)|*.wav|";
const char kSlideshowSuffix[] = "VekSS";
const char kSlideshowFilter[] = "Vek slide show settings (*.VekSS)|*.VekSS|";

// The name a slideshow is saved under: ".VekSS" added unless it ends so exactly.
QString SlideshowFileName(const QString& file) {
    const QString suffix = QString::fromLatin1(kSlideshowSuffix);
    return QFileInfo(file).suffix() == suffix ? file : file + u'.' + suffix;
}

// Music rows sort by their full path (ordinal, case and all), not by the name shown.
class TMusicItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override {
        return QString::compare(data(Qt::UserRole).toString(), other.data(Qt::UserRole).toString(),
                                Qt::CaseSensitive) < 0;
    }
};

bool IsFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

constexpr QRgb kHintColour = 0xC0C0C0;
constexpr QRgb kEvenRowColour = 0xF6F6F6;
constexpr int kFocusFrameAlpha = 0xC8;

// The rows of both lists: even rows on a light grey, odd ones white, across the whole
// width; the focused row framed in the highlight colour.
class TRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!option.features.testFlag(QStyleOptionViewItem::Alternate))
            painter->fillRect(option.rect, QColor(kEvenRowColour));
        QStyleOptionViewItem plain = option;
        plain.state &= ~QStyle::State_HasFocus; // framed below instead
        QStyledItemDelegate::paint(painter, plain, index);
        if (option.state.testFlag(QStyle::State_HasFocus)) {
            QColor frame = option.palette.color(QPalette::Highlight);
            frame.setAlpha(kFocusFrameAlpha);
            painter->save();
            painter->setPen(frame);
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
            painter->restore();
        }
    }
};

// A list that says how to fill it while it is empty, and runs `OnEmptyDoubleClick`
// for a double click where there is no entry.
template <class View>
class THintedList : public View {
public:
    THintedList(QWidget* parent, const char* hint)
        : View(parent), m_hint(QString::fromLatin1(hint)) {
        this->setAlternatingRowColors(true);
        QPalette palette = this->palette();
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::AlternateBase, Qt::white);
        this->setPalette(palette);
        this->setItemDelegate(new TRowDelegate(this));
    }

    std::function<void()> OnEmptyDoubleClick;

protected:
    void paintEvent(QPaintEvent* event) override {
        View::paintEvent(event);
        if (this->model() == nullptr || this->model()->rowCount() > 0) return;
        QPainter painter(this->viewport());
        painter.setPen(QColor(kHintColour));
        const QRect area = this->viewport()->rect();
        const int line = painter.fontMetrics().height();
        painter.drawText(QRect(0, area.center().y() - line, area.width(), line), Qt::AlignCenter,
                         QStringLiteral("Double click to"));
        painter.drawText(QRect(0, area.center().y() + 1, area.width(), line), Qt::AlignCenter,
                         m_hint);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton &&
            !this->indexAt(event->position().toPoint()).isValid()) {
            if (OnEmptyDoubleClick) OnEmptyDoubleClick();
            event->accept();
            return;
        }
        View::mouseDoubleClickEvent(event);
    }

private:
    QString m_hint;
};

// The picture tree: the light rows span the folders' indentation too.
class TPictureTree : public THintedList<QTreeView> {
public:
    using THintedList::THintedList;

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override {
        if (!option.features.testFlag(QStyleOptionViewItem::Alternate))
            painter->fillRect(
                QRect(0, option.rect.top(), viewport()->width(), option.rect.height()),
                QColor(kEvenRowColour));
        THintedList::drawRow(painter, option, index);
    }
};

} // namespace

TWizardForm::TWizardForm(TAppContext& context, TVekSettingsFile& slideshow)
    : m_context(context), m_slideshow(slideshow) {
    setWindowTitle(QStringLiteral("Slideshow wizard"));
    setAcceptDrops(true);

    Pages = new QStackedWidget(this);
    Pages->addWidget(
        PageFrame("Step 1.", "Add image files to list.", CreatePicturesPage(), "zWizardLogo1"));
    Pages->addWidget(
        PageFrame("Step 2.", "Add media files to list.", CreateMusicPage(), "zWizardLogo2"));
    Pages->addWidget(PageFrame("Step 3.", "Settings.", CreateSettingsPage(), "zWizardLogo3"));

    auto* load = new QPushButton(QStringLiteral("Load slide show"), this);
    load->setToolTip(QStringLiteral("Load slideshow"));
    auto* save = new QPushButton(QStringLiteral("Save slideshow"), this);
    BackButton = new QPushButton(QStringLiteral("< &Back"), this);
    NextButton = new QPushButton(QStringLiteral("&Next >"), this);
    FinishButton = new QPushButton(QStringLiteral("Finish"), this);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_pictures.push_back({[load](const QPixmap& p) { load->setIcon(QIcon(p)); }, "zLoadSlideShow"});
    m_pictures.push_back({[save](const QPixmap& p) { save->setIcon(QIcon(p)); }, "zSaveSlideShow"});
    // While folders are listed: how many files were found so far.
    ListingProgress = new QProgressBar(this);
    ListingProgress->setRange(0, 0);
    ListingProgress->setTextVisible(true);
    ListingProgress->setFormat(QStringLiteral("Reading folders..."));
    ListingProgress->setMaximumWidth(160);
    ListingProgress->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(load);
    buttons->addWidget(save);
    buttons->addWidget(ListingProgress);
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
    connect(save, &QPushButton::clicked, this, &TWizardForm::SaveSlideshowClick);
    UpdateButtons();
}

void TWizardForm::SaveSlideshowClick() {
    QFileDialog dialog(this, QStringLiteral("Save slideshow"), QString(),
                       FileDialogFilter(QString::fromLatin1(kSlideshowFilter)));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog adds the suffix to a bare name itself, so its overwrite question is
    // about the file that gets written.
    dialog.setDefaultSuffix(QString::fromLatin1(kSlideshowSuffix));
    const QString file = AskSaveFile                          ? AskSaveFile(dialog)
                         : dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0)
                                                              : QString();
    if (file.isEmpty()) return;
    // A name with another suffix still gets ours: the dialog never asked about that file.
    const QString name = SlideshowFileName(file);
    if (name != file && QFileInfo::exists(name)) {
        const QString question = name + QStringLiteral("\nalready exists. Replace it?");
        const bool replace = AskReplace ? AskReplace(name)
                                        : QMessageBox::question(this, QStringLiteral("Pictrel"),
                                                                question) == QMessageBox::Yes;
        if (!replace) return;
    }
    // Folders still being read would be missing from the file.
    WhenListed([this, file] {
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
}

void TWizardForm::WhenListed(std::function<void()> action) {
    if (!Listing()) {
        action();
        return;
    }
    // The progress shows meanwhile; the latest command is the one the user wants.
    m_whenListed = std::move(action);
}

TWizardForm::~TWizardForm() {
    m_guard.Revoke();
    m_listWork.Shutdown();
}

QWidget* TWizardForm::PageFrame(const char* step, const char* text, QWidget* body,
                                const char* logo) {
    auto* page = new QWidget;
    auto* outer = new QHBoxLayout(page);
    auto* picture = new QLabel(page);
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    // Drawn when the wizard first shows, so that making it costs the viewer's start nothing.
    m_pictures.push_back({[picture](const QPixmap& p) { picture->setPixmap(p); }, logo});
    outer->addWidget(picture);
    auto* layout = new QVBoxLayout;
    auto* title = new QLabel(
        QStringLiteral("<b>%1</b> %2").arg(QString::fromLatin1(step), QString::fromLatin1(text)),
        page);
    layout->addWidget(title);
    layout->addWidget(body, 1);
    outer->addLayout(layout, 1);
    return page;
}

QAction* TWizardForm::MakeAction(const char* caption, const char* icon, QWidget* owner,
                                 QToolBar* bar) {
    auto* action = new QAction(QString::fromLatin1(caption), owner);
    action->setToolTip(QString::fromLatin1(caption));
    owner->addAction(action);
    if (bar != nullptr) bar->addAction(action);
    if (icon != nullptr)
        m_pictures.push_back({[action](const QPixmap& p) { action->setIcon(QIcon(p)); }, icon});
    return action;
}

namespace {

// A column of commands, each with its icon and caption.
QToolBar* CommandColumn(QWidget* parent) {
    auto* bar = new QToolBar(parent);
    bar->setOrientation(Qt::Vertical);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(16, 16));
    return bar;
}

// Widens every button of a command column to the column's width.
void StretchButtons(QToolBar* bar) {
    for (QAction* action : bar->actions())
        if (QWidget* button = bar->widgetForAction(action))
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

} // namespace

QWidget* TWizardForm::CreatePicturesPage() {
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    ImageModel = new TImageTreeModel(this);
    auto icons = std::make_shared<QFileIconProvider>();
    ImageModel->IconOf = [icons](const QString& path, bool folder) -> QVariant {
        return folder ? icons->icon(QFileIconProvider::Folder) : icons->icon(QFileInfo(path));
    };
    auto* tree = new TPictureTree(page, "add image files");
    ImageFilesVirtualDrawTree = tree;
    tree->setModel(ImageModel);
    tree->setHeaderHidden(true);
    // Thousands of rows: their height is asked once, not of every row.
    tree->setUniformRowHeights(true);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setDragEnabled(false);
    layout->addWidget(tree, 1);

    auto* right = new QVBoxLayout;
    auto* commands = new QHBoxLayout;
    QToolBar* bar = CommandColumn(page);
    const auto add = [this] {
        AddImages(AskImages ? AskImages()
                            : QFileDialog::getOpenFileNames(
                                  this, QStringLiteral("Add images"), QString(),
                                  FileDialogFilter(GetImageFilter(true, true, true, true))));
    };
    tree->OnEmptyDoubleClick = add;
    connect(MakeAction("Add images", "zAddImage", page, bar), &QAction::triggered, this, add);
    connect(MakeAction("Remove images", "zDeleteImage", page, bar), &QAction::triggered, this,
            &TWizardForm::RemoveImages);
    connect(MakeAction("Select all", "zSelectAllImages", page, bar), &QAction::triggered, tree,
            &QTreeView::selectAll);
    connect(MakeAction("Invert selection", "zInverseSelection", page, bar), &QAction::triggered,
            this, &TWizardForm::InvertImageSelection);
    UpImageAction = MakeAction("Up", "zUp", page, bar);
    DownImageAction = MakeAction("Down", "zDown", page, bar);
    connect(UpImageAction, &QAction::triggered, this, [this] { MoveImages(true); });
    connect(DownImageAction, &QAction::triggered, this, [this] { MoveImages(false); });
    StretchButtons(bar);
    auto* column = new QVBoxLayout;
    column->addWidget(bar);
    SortImageCheckBox = new QCheckBox(QStringLiteral("Sort image files"), page);
    connect(SortImageCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        ImageModel->SetSorted(on);
        ImageFilesVirtualDrawTree->expandAll();
    });
    column->addWidget(SortImageCheckBox);
    column->addStretch();
    commands->addLayout(column);
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { ImageFocusChanged(); });
    connect(ImageModel, &QAbstractItemModel::modelReset, this, [this] { ImageFocusChanged(); });

    auto* preview = new QVBoxLayout;
    PreviewImgView32 = new TWizardPreview(page);
    preview->addWidget(PreviewImgView32);
    auto* viewBar = new QToolBar(page);
    viewBar->setIconSize(QSize(16, 16));
    ZoomFitAction = MakeAction("Fit width", "zZoomFit16", page, viewBar);
    ActualSizeAction = MakeAction("Actual size", "zZoomNo16", page, viewBar);
    RotateLeftAction = MakeAction("Rotate left", "zRotateLeft", page, viewBar);
    RotateRightAction = MakeAction("Rotate right", "zRotateRight", page, viewBar);
    // Without buttons: the keys of the desktop's zoom.
    ZoomInAction = MakeAction("Zoom in", nullptr, page, nullptr);
    ZoomOutAction = MakeAction("Zoom out", nullptr, page, nullptr);
    ZoomInAction->setShortcuts(QKeySequence::ZoomIn);
    ZoomOutAction->setShortcuts(QKeySequence::ZoomOut);
    for (QAction* a : {ZoomInAction, ZoomOutAction})
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(ZoomFitAction, &QAction::triggered, PreviewImgView32, &TWizardPreview::ZoomFit);
    connect(ActualSizeAction, &QAction::triggered, PreviewImgView32, &TWizardPreview::ActualSize);
    connect(ZoomInAction, &QAction::triggered, PreviewImgView32, &TWizardPreview::ZoomIn);
    connect(ZoomOutAction, &QAction::triggered, PreviewImgView32, &TWizardPreview::ZoomOut);
    connect(RotateLeftAction, &QAction::triggered, this, [this] { RotatePreview(90); });
    connect(RotateRightAction, &QAction::triggered, this, [this] { RotatePreview(-90); });
    PreviewImgView32->OnStateChange = [this] { UpdatePreviewActions(); };
    PreviewImgView32->AngleOf = [this](const QString& file) {
        // The picture shows turned as the viewer shows it.
        const TImageTreeModel::TRef ref =
            ImageModel->RefOf(ImageFilesVirtualDrawTree->currentIndex());
        const TImageFileTree::TNode* node = ImageModel->Tree().Node(ref);
        if (node == nullptr || node->Path != file) return PreviewImgView32->Angle();
        if (RotationOf) ImageModel->SetAngle(ref, RotationOf(file));
        return ImageModel->Tree().Node(ref)->Angle;
    };
    preview->addWidget(viewBar, 0, Qt::AlignHCenter);
    preview->addStretch();
    commands->addLayout(preview);
    right->addLayout(commands, 1);
    layout->addLayout(right);
    UpdatePreviewActions();
    return page;
}

void TWizardForm::UpdatePreviewActions() {
    const bool available = PreviewImgView32->Available();
    for (QAction* a : {ZoomFitAction, ActualSizeAction, ZoomInAction, ZoomOutAction,
                       RotateLeftAction, RotateRightAction})
        a->setEnabled(available);
    UpImageAction->setEnabled(ImageFilesVirtualDrawTree->currentIndex().isValid());
    DownImageAction->setEnabled(ImageFilesVirtualDrawTree->currentIndex().isValid());
}

void TWizardForm::ImageFocusChanged() {
    const TImageTreeModel::TRef ref = ImageModel->RefOf(ImageFilesVirtualDrawTree->currentIndex());
    const TImageFileTree::TNode* node = ImageModel->Tree().Node(ref);
    UpdatePreviewActions();
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
    layout->setContentsMargins(0, 0, 0, 0);
    auto* left = new QVBoxLayout;
    auto* list = new THintedList<QListWidget>(page, "add media files");
    MusicFilesVirtualDrawTree = list;
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setDragDropMode(QAbstractItemView::InternalMove);
    list->setUniformItemSizes(true);
    left->addWidget(list, 1);
    auto* options = new QHBoxLayout;
    ShuffleCheckBox = new QCheckBox(QStringLiteral("Shuffle"), page);
    RepeatAllCheckBox = new QCheckBox(QStringLiteral("Repeat all"), page);
    options->addWidget(ShuffleCheckBox);
    options->addWidget(RepeatAllCheckBox);
    options->addStretch();
    left->addLayout(options);
    left->addWidget(CreateMusicPreview(page));
    layout->addLayout(left, 1);
    connect(list, &QListWidget::currentItemChanged, this, [this] { MusicFocusChanged(); });
    connect(list, &QListWidget::itemSelectionChanged, this, [this] { UpdateMusicButtons(); });
    // A drag within the list moves rows without changing the focus.
    connect(list->model(), &QAbstractItemModel::rowsMoved, this, [this] { UpdateMusicButtons(); });
    connect(list, &QListWidget::itemDoubleClicked, this, [this] {
        MusicFocusChanged();
        VekAudioPlayer.Play();
        UpdateMusicButtons();
    });

    QToolBar* bar = CommandColumn(page);
    const auto add = [this] {
        AddMusic(AskMusic ? AskMusic()
                          : QFileDialog::getOpenFileNames(
                                this, QStringLiteral("Add music"), QString(),
                                FileDialogFilter(QString::fromLatin1(kMusicFilter))));
    };
    list->OnEmptyDoubleClick = add;
    connect(MakeAction("Add music", "zAddMusic", page, bar), &QAction::triggered, this, add);
    connect(MakeAction("Remove music", "zDeleteMusic", page, bar), &QAction::triggered, this,
            &TWizardForm::RemoveMusic);
    connect(MakeAction("Select all", "zSelectAllMusic", page, bar), &QAction::triggered, list,
            &QListWidget::selectAll);
    connect(MakeAction("Invert selection", "zInverseSelection", page, bar), &QAction::triggered,
            this, &TWizardForm::InvertMusicSelection);
    UpMusicAction = MakeAction("Up", "zUp", page, bar);
    DownMusicAction = MakeAction("Down", "zDown", page, bar);
    connect(UpMusicAction, &QAction::triggered, this, [this] { MoveMusic(true); });
    connect(DownMusicAction, &QAction::triggered, this, [this] { MoveMusic(false); });
    StretchButtons(bar);
    auto* tools = new QVBoxLayout;
    tools->addWidget(bar);
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
    auto* bar = new QToolBar(box);
    bar->setIconSize(QSize(16, 16));
    PreviousMusicAction = MakeAction("Previous", "zPrevious", box, bar);
    PlayMusicAction = MakeAction("Play", "zPlay", box, bar);
    PauseMusicAction = MakeAction("Pause", "zPause", box, bar);
    StopMusicAction = MakeAction("Stop", "zStop", box, bar);
    NextMusicAction = MakeAction("Next", "zNext", box, bar);
    PlayMusicAction->setCheckable(true);
    PauseMusicAction->setCheckable(true);
    controls->addWidget(bar);
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

    connect(PlayMusicAction, &QAction::triggered, this, [this] {
        VekAudioPlayer.Play();
        UpdateMusicButtons();
    });
    connect(PauseMusicAction, &QAction::triggered, this, [this] {
        VekAudioPlayer.Pause();
        UpdateMusicButtons();
    });
    connect(StopMusicAction, &QAction::triggered, this, [this] {
        VekAudioPlayer.Stop();
        UpdateMusicButtons();
    });
    connect(NextMusicAction, &QAction::triggered, this, [this] { StepMusic(+1); });
    connect(PreviousMusicAction, &QAction::triggered, this, [this] { StepMusic(-1); });
    connect(MusicTrackBar, &QSlider::sliderReleased, this,
            [this] { VekAudioPlayer.SetPositionPercent(MusicTrackBar->value()); });
    // A click on the groove, the arrow and page keys and the wheel seek at once; a drag
    // seeks where it is let go.
    connect(MusicTrackBar, &QAbstractSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove || !MusicTrackBar->isSliderDown())
            VekAudioPlayer.SetPositionPercent(MusicTrackBar->sliderPosition());
    });
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
    if (m_movingMusic) return; // the same track, only in another place
    const QListWidgetItem* item = MusicFilesVirtualDrawTree->currentItem();
    const bool play = m_playOnFocus;
    m_playOnFocus = false;
    // Nothing of the track before stays, also when this one cannot be opened.
    FileNameLabel->clear();
    LengthLabel->clear();
    PositionLabel->clear();
    MusicTrackBar->setValue(0);
    if (item == nullptr) {
        VekAudioPlayer.Close();
    } else {
        // Opened without holding the window up; the buttons follow when it is.
        VekAudioPlayer.OpenAsync(item->data(Qt::UserRole).toString(), [this, play](bool opened) {
            if (opened) {
                FileNameLabel->setText(VekAudioPlayer.Title());
                LengthLabel->setText(VekAudioPlayer.FormatTime(VekAudioPlayer.Length()));
                if (play) VekAudioPlayer.Play();
            }
            UpdateMusicButtons();
        });
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
    PlayMusicAction->setEnabled(opened);
    StopMusicAction->setEnabled(opened);
    PauseMusicAction->setEnabled(opened);
    PlayMusicAction->setChecked(VekAudioPlayer.Playing());
    PauseMusicAction->setChecked(VekAudioPlayer.Paused());
    QListWidget* list = MusicFilesVirtualDrawTree;
    const int row = list->currentRow();
    const int count = list->count();
    NextMusicAction->setEnabled(count > 0 && row + 1 < count);
    PreviousMusicAction->setEnabled(count > 0 && row != 0);
    // Up and Down: whether the selected block can move that way.
    int first = count, last = -1;
    for (int i = 0; i < count; ++i)
        if (list->item(i)->isSelected()) {
            first = std::min(first, i);
            last = i;
        }
    if (UpMusicAction == nullptr) return; // still being made
    UpMusicAction->setEnabled(last >= 0 && first > 0);
    DownMusicAction->setEnabled(last >= 0 && last + 1 < count);
}

QWidget* TWizardForm::CreateSettingsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* effect = new QHBoxLayout;
    effect->addWidget(new QLabel(QStringLiteral("Effect:"), page));
    EffectPreview = new TEffectPreview(page);
    EffectPreview->setFixedSize(200, 150);
    EffectComboBox = EffectPreview->MakeEffectComboBox(page);
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
    PICTREL_ASSERT_GUI_THREAD();
    const TVekSettingsFile* slideshow = &m_slideshow;
    // Listings still running belong to the lists being replaced: what they find is
    // dropped, and a command that waited for them is not carried out on other lists.
    ++m_fillGeneration;
    m_listWork.Cancel();
    m_listing = 0;
    m_whenListed = nullptr;
    unsetCursor();
    ListingProgress->hide();
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
    PICTREL_ASSERT_GUI_THREAD();
    TVekSettingsFile* slideshow = &m_slideshow;
    if (QFileInfo(path).suffix().compare(QStringLiteral("VekSS"), Qt::CaseInsensitive) == 0) {
        if (slideshow->LoadFromFile(path)) FillPages();
    } else {
        slideshow->ImageList = {path};
    }
}

bool TWizardForm::LoadSlideshow(const QString& file) {
    TVekSettingsFile* slideshow = &m_slideshow;
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
    const QString name = SlideshowFileName(file);
    TVekSettingsFile* slideshow = &m_slideshow;
    CollectPages(*slideshow);
    slideshow->SaveToFile(name);
    return name;
}

// ---- adding -------------------------------------------------------------------------

void TWizardForm::AddImages(const QStringList& paths, bool remember) {
    if (paths.isEmpty()) return;
    if (remember) m_slideshow.ImageList << paths;
    ListFolders(paths, true);
}

void TWizardForm::AddMusic(const QStringList& paths, bool remember) {
    if (paths.isEmpty()) return;
    if (remember) m_slideshow.MusicList << paths;
    ListFolders(paths, false);
}

void TWizardForm::ListFolders(const QStringList& paths, bool pictures) {
    PICTREL_ASSERT_GUI_THREAD();
    if (m_listing++ == 0) ListingProgress->show();
    setCursor(Qt::BusyCursor);
    // A folder of thousands of files is listed on a worker; the window stays usable.
    const std::uint64_t generation = m_fillGeneration;
    struct TListed {
        QStringList files;
        std::set<QString> folders;
        std::set<QString> missing;
    };
    m_listWork.Run(
        [paths, pictures](const TJobStop&) {
            TListed listed;
            listed.files = ExpandFileList(
                paths, true, pictures ? ImageExtensions() : QString::fromLatin1(kMusicExtensions));
            const QSet<QString> found(listed.files.begin(), listed.files.end());
            for (const QString& p : paths) {
                if (IsFolder(p))
                    listed.folders.insert(p);
                else if (pictures && !QFileInfo::exists(p) && !found.contains(p))
                    listed.missing.insert(
                        p); // a folder of another computer, kept (files stay listed)
            }
            return listed;
        },
        [this, paths, pictures, generation](const TListed& listed) {
            if (generation != m_fillGeneration) return; // the lists were filled anew
            const bool last = --m_listing == 0;
            if (last) {
                unsetCursor();
                ListingProgress->hide();
            }
            if (pictures) {
                const auto& folders = listed.folders;
                const auto& missing = listed.missing;
                const auto added = ImageModel->AddEntries(
                    paths, listed.files,
                    [&folders](const QString& p) { return folders.count(p) > 0; },
                    [&missing](const QString& p) { return missing.count(p) > 0; });
                ImageFilesVirtualDrawTree->expandAll();
                if (added) SelectImageRefs({*added});
            } else {
                AppendMusicFiles(listed.files);
            }
            UpdateButtons();
            if (last && m_whenListed) std::exchange(m_whenListed, nullptr)();
        },
        [this, generation](const QString& error) {
            // Nothing of it is added; a Save or Finish that waited is not carried out on
            // lists that lack it.
            std::fprintf(stderr, "pictrel: folders not read: %s\n",
                         error.toLocal8Bit().constData());
            if (generation != m_fillGeneration) return;
            if (--m_listing == 0) {
                unsetCursor();
                ListingProgress->hide();
                m_whenListed = nullptr;
            }
            UpdateButtons();
        });
}

void TWizardForm::AppendMusicFiles(const QStringList& files) {
    if (files.isEmpty()) return;
    QFileIconProvider icons;
    QListWidgetItem* last = nullptr;
    for (const QString& file : files) {
        last = new TMusicItem(icons.icon(QFileInfo(file)), QFileInfo(file).fileName());
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
    // Taking a row out moves the focus; the track being previewed goes on playing.
    QListWidgetItem* focused = MusicFilesVirtualDrawTree->currentItem();
    m_movingMusic = true;
    if (up) {
        for (int row : rows)
            if (row > 0) move(row, row - 1);
    } else {
        for (auto it = rows.rbegin(); it != rows.rend(); ++it)
            if (*it + 1 < count) move(*it, *it + 1);
    }
    if (focused != nullptr)
        MusicFilesVirtualDrawTree->setCurrentItem(focused, QItemSelectionModel::NoUpdate);
    m_movingMusic = false;
    UpdateMusicButtons();
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
    if (Listing()) {
        // The show waits for the folders still being read, or it would lack them.
        WhenListed([this] { Finish(); });
        return;
    }
    CollectPages(m_slideshow);
    VekAudioPlayer.Close();
    UpdateMusicButtons();
    PreviewImgView32->ShowFile(QString());
    if (PlaySlideShow) {
        PlaySlideShow();
        hide();
    }
}

void TWizardForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (!m_pictures.empty()) {
        for (const auto& [apply, name] : m_pictures)
            apply(LoadResourcePixmap(QString::fromLatin1(name)));
        m_pictures.clear();
        // A dialog's fixed frame, as large as its pages need with the desktop's font.
        setFixedSize(size().expandedTo(sizeHint()));
    }
    FillPages();
    GoToPage(0);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TWizardForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    // Nothing of the wizard goes on once it is closed: no track being previewed, no
    // command waiting for a listing.
    m_whenListed = nullptr;
    VekAudioPlayer.Close();
    UpdateMusicButtons();
    if (ReturnToViewer) {
        ReturnToViewer = false;
        if (ShowViewer) ShowViewer();
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
