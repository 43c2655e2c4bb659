#include "settings/FormVekSettings.h"

#include "app/FileHelpers.h"
#include "app/ShellHelpers.h"
#include "app/StoreFailure.h"
#include "loading/ImageFilter.h"
#include "settings/AssociationGridWidget.h"
#include "settings/AssociationRows.h"
#include "settings/AssociationWriter.h"
#include "settings/FilterListWidget.h"
#include "settings/ShortcutEditWidget.h"
#include "settings/VekLabeledEditWidget.h"
#include "show/EffectPreviewWidget.h"
#include "show/VekSettingsFile.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <exception>

namespace {

// A delay the field can show: whole seconds up to a day.
constexpr int kMaxDelaySeconds = 24 * 60 * 60;

int NumberOr0(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

} // namespace

TSettingsForm::TSettingsForm(const TVekSettingsFile& slideshow) : m_slideshow(slideshow) {
    setWindowTitle(QStringLiteral("Settings"));
    LoadFromRegistry();
}

TSettingsForm::~TSettingsForm() {
    try {
        SaveToRegistry();
    } catch (const std::exception& e) {
        ReportStoreFailure(QString::fromUtf8(e.what()));
    }
}

void TSettingsForm::LoadFromRegistry() {
    Values = TDialogStoreValues::Load();
    m_stored.Take([this] { Values.Save(); });
    if (OnShortcutsLoaded) OnShortcutsLoaded();
}

void TSettingsForm::SaveToRegistry() {
    // Only what was changed here: another Pictrel may have stored other keys meanwhile.
    QString error;
    if (!m_stored.WriteChanges([this] { Values.Save(); }, &error))
        throw ERegistryError(error.toStdString());
}

// ---- controls -----------------------------------------------------------------

void TSettingsForm::CreateControls() {
    Pages = new QTabWidget(this);
    Pages->addTab(CreateCommonPage(), QStringLiteral("Common"));
    Pages->addTab(CreateSlideshowPage(), QStringLiteral("Slideshow"));
    Pages->addTab(CreateAssociationsPage(), QStringLiteral("Associations"));
    Pages->addTab(CreateSimpleModePage(), QStringLiteral("Simple mode"));
    Pages->addTab(CreateAppearancePage(), QStringLiteral("Appearance"));
    Pages->addTab(CreateAboutPage(), QStringLiteral("About"));
    // Every page's tab in sight: the dialog is as wide as its tabs need.
    Pages->tabBar()->setUsesScrollButtons(false);
    Pages->setElideMode(Qt::ElideNone);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Pages);
    layout->addWidget(buttons);
    // A fixed dialog border: the pages take their natural size.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget* TSettingsForm::CreateCommonPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto* filter = new QFormLayout;
    FilterListBox = new TFilterListBox(page);
    FilterListBox->setFixedHeight(FilterListBox->sizeHintForRow(0) * 3 +
                                  2 * FilterListBox->frameWidth() + 2);
    filter->addRow(QStringLiteral("Filter:"), FilterListBox);
    layout->addLayout(filter);

    auto* shortcuts = new QGroupBox(QStringLiteral("Shortcuts:"), page);
    auto* grid = new QGridLayout(shortcuts);
    using V = TDialogStoreValues;
    struct TRow {
        const char* Caption;
        std::uint16_t V::*First;
        std::uint16_t V::*Second;
    };
    const TRow rows[] = {
        {"Previous image:", &V::ShortcutLeft, &V::ShortcutLeft2},
        {"Next image:", &V::ShortcutRight, &V::ShortcutRight2},
        {"Zoom fit to page:", &V::ShortcutFitToPage, nullptr},
        {"Zoom Real:", &V::ShortcutActual, nullptr},
        {"Zoom in:", &V::ShortcutZoomIn, nullptr},
        {"Zoom out:", &V::ShortcutZoomOut, nullptr},
        {"Rotate left:", &V::ShortcutRotateLeft, nullptr},
        {"Rotate right:", &V::ShortcutRotateRight, nullptr},
        {"Play/Pause slideshow:", &V::ShortcutPlayPause, nullptr},
        {"Exit slideshow:", &V::ShortcutSlideshowExit, nullptr},
        {"Simple mode:", &V::ShortcutSimpleMode, nullptr},
    };
    const auto field = [this, shortcuts](std::uint16_t V::*member) {
        auto* edit = new TShortcutEdit(shortcuts);
        // A captured key is the dialog's value at once; Cancel reads the store back.
        edit->OnChange = [this, member](std::uint16_t value) { Values.*member = value; };
        ShortcutFields.push_back({edit, member});
        return edit;
    };
    for (int r = 0; r < int(std::size(rows)); ++r) {
        auto* label = new QLabel(QString::fromLatin1(rows[r].Caption), shortcuts);
        grid->addWidget(label, r, 0);
        TShortcutEdit* first = field(rows[r].First);
        label->setBuddy(first);
        grid->addWidget(first, r, 1);
        if (rows[r].Second != nullptr) grid->addWidget(field(rows[r].Second), r, 2);
    }
    layout->addWidget(shortcuts);

    ExifOrientationCheckBox =
        new QCheckBox(QStringLiteral("Turn pictures as the camera recorded them"), page);
    connect(ExifOrientationCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { Values.ExifOrientation = on; });
    ColourManagementCheckBox = new QCheckBox(QStringLiteral("Colour management"), page);
    ColourManagementCheckBox->setToolTip(
        QStringLiteral("Show pictures with an embedded colour profile in their true colours"));
    connect(ColourManagementCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { Values.ColourManagement = on; });
    DeleteToTrashCheckBox = new QCheckBox(QStringLiteral("Move deleted files to the trash"), page);
    connect(DeleteToTrashCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { Values.DeleteToTrash = on; });
    layout->addWidget(ExifOrientationCheckBox);
    layout->addWidget(ColourManagementCheckBox);
    layout->addWidget(DeleteToTrashCheckBox);
    layout->addStretch();
    return page;
}

QWidget* TSettingsForm::CreateSlideshowPage() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    auto* delay = new QHBoxLayout;
    TimerDelayLMDSpinEdit = new QSpinBox(page);
    TimerDelayLMDSpinEdit->setRange(0, kMaxDelaySeconds);
    delay->addWidget(TimerDelayLMDSpinEdit);
    delay->addWidget(new QLabel(QStringLiteral("s"), page));
    delay->addStretch();
    form->addRow(QStringLiteral("Timer delay:"), delay);

    EffectPreview = new TEffectPreview(page);
    EffectPreview->setFixedSize(200, 150);
    EffectComboBox = EffectPreview->MakeEffectComboBox(page);
    form->addRow(QStringLiteral("Effect:"), EffectComboBox);
    form->addRow(QStringLiteral("Preview:"), EffectPreview);
    return page;
}

QWidget* TSettingsForm::CreateAssociationsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    AssociationGrid = new TAssociationGrid(page);
    AssociationGrid->setMinimumSize(420, 300);
    layout->addWidget(AssociationGrid);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    const auto button = [&](const char* caption, std::function<void()> click) {
        auto* b = new QPushButton(QString::fromLatin1(caption), page);
        connect(b, &QPushButton::clicked, this, std::move(click));
        buttons->addWidget(b);
    };
    button("All", [this] { AssociationGrid->CheckAll(true); });
    button("None", [this] { AssociationGrid->CheckAll(false); });
    button("Standard", [this] { AssociationGrid->CheckStandard(); });
    layout->addLayout(buttons);
    return page;
}

QWidget* TSettingsForm::CreateSimpleModePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Simpe mode blend:"), page));
    BlendTrackBar = new QSlider(Qt::Horizontal, page);
    BlendTrackBar->setRange(0, 255);
    BlendTrackBar->setTickInterval(10);
    BlendTrackBar->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(BlendTrackBar);
    auto* size = new QGroupBox(QStringLiteral("Window size:"), page);
    auto* sizes = new QHBoxLayout(size);
    const auto edit = [size, sizes](const char* caption) {
        auto* e = new TVekLabeledEdit(size);
        e->EditLabel()->setText(QString::fromLatin1(caption));
        e->SetRestrictionType(rtNumeric);
        sizes->addWidget(e);
        return e;
    };
    WidthLabeledEdit = edit("Width:");
    HeightLabeledEdit = edit("Height:");
    layout->addWidget(size);
    layout->addStretch();
    return page;
}

QWidget* TSettingsForm::CreateAppearancePage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    const auto check = [this, page, layout](const char* caption, bool TDialogStoreValues::*field) {
        auto* box = new QCheckBox(QString::fromLatin1(caption), page);
        connect(box, &QCheckBox::toggled, this, [this, field](bool on) { Values.*field = on; });
        layout->addWidget(box);
        return box;
    };
    UseBackgroundColorCheckBox =
        check("Set background color", &TDialogStoreValues::UseBackgroundColor);
    auto* colour = new QHBoxLayout;
    colour->addWidget(new QLabel(QStringLiteral("Background color:"), page));
    BackgroundColorButton = new QPushButton(page);
    BackgroundColorButton->setFixedSize(48, 24);
    BackgroundColorButton->setAccessibleName(QStringLiteral("Background color"));
    connect(BackgroundColorButton, &QPushButton::clicked, this,
            &TSettingsForm::ChooseBackgroundColour);
    colour->addWidget(BackgroundColorButton);
    colour->addStretch();
    layout->addLayout(colour);
    ShowFrameCheckBox = check("Display image border", &TDialogStoreValues::ShowFrame);
    BigIconsCheckBox = check("Large icons on toolbar", &TDialogStoreValues::BigIcons);
    layout->addStretch();
    return page;
}

QWidget* TSettingsForm::CreateAboutPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* name = new QLabel(QStringLiteral("<b>Pictrel v3.0</b>"), page);
    layout->addWidget(name);
    layout->addWidget(new QLabel(QStringLiteral("A fast image viewer and slideshow maker."), page));
    AboutLinkLabel = new QLabel(page);
    const QString url = DocumentationUrl();
    if (url.isEmpty()) {
        AboutLinkLabel->setText(QStringLiteral("The documentation is not installed."));
    } else {
        AboutLinkLabel->setText(QStringLiteral("<a href=\"%1\">Documentation</a>").arg(url));
        AboutLinkLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                                Qt::LinksAccessibleByKeyboard);
        connect(AboutLinkLabel, &QLabel::linkActivated, this, [](const QString& link) {
            if (!OpenUrl(link))
                std::fprintf(stderr, "pictrel: nothing opens %s\n", link.toLocal8Bit().constData());
        });
    }
    layout->addWidget(AboutLinkLabel);
    layout->addStretch();
    return page;
}

QString TSettingsForm::DocumentationUrl() {
    // Beside the program when run from its build tree, or where a package puts it.
    const QString program = ProgramFolder();
    for (const QString& candidate :
         {program + QStringLiteral("README.md"), program + QStringLiteral("../README.md"),
          program + QStringLiteral("../../README.md"),
          program + QStringLiteral("../share/doc/pictrel/README.md")}) {
        const QFileInfo info(candidate);
        if (info.isFile()) return QUrl::fromLocalFile(info.canonicalFilePath()).toString();
    }
    return {};
}

// ---- preparing and closing ------------------------------------------------------

void TSettingsForm::PrepareControls(const TSimpleModeValues& simple) {
    if (Pages == nullptr) CreateControls();
    FilterListBox->SelectKind(Values.FilterKind);
    for (const TShortcutField& f : ShortcutFields) f.Edit->SetShortcut(Values.*f.Field);

    // Half a second rounds to even, as every rounding of the program does.
    TimerDelayLMDSpinEdit->setValue(int(std::nearbyint(m_slideshow.Delay / 1000.0)));
    int effect = -1;
    if (m_slideshow.Transformer) {
        const QStringList names = EffectPreview->EffectNames();
        for (int i = 0; i < names.size(); ++i)
            if (names[i].compare(m_slideshow.Transformer->Name, Qt::CaseInsensitive) == 0)
                effect = i;
    }
    EffectComboBox->setCurrentIndex(effect);
    EffectPreview->SetEffectIndex(effect);

    std::vector<TAssociationRow> rows = AssociationRowsOf(GetImageFilter(true, true, true, true));
    ReadAssociations(rows);
    AssociationGrid->SetRows(std::move(rows));

    BlendTrackBar->setValue(simple.Blend);
    WidthLabeledEdit->SetText(QString::number(simple.Width));
    HeightLabeledEdit->SetText(QString::number(simple.Height));

    UseBackgroundColorCheckBox->setChecked(Values.UseBackgroundColor);
    ShowFrameCheckBox->setChecked(Values.ShowFrame);
    BigIconsCheckBox->setChecked(Values.BigIcons);
    ExifOrientationCheckBox->setChecked(Values.ExifOrientation);
    ColourManagementCheckBox->setChecked(Values.ColourManagement);
    DeleteToTrashCheckBox->setChecked(Values.DeleteToTrash);
    ShowBackgroundColour();
    Pages->setCurrentIndex(0);
    // The arrow keys step through the pages from the start.
    Pages->tabBar()->setFocus();
}

void TSettingsForm::ShowBackgroundColour() {
    const QColor colour = QColor::fromRgb(Values.BackgroundColor | 0xFF000000u);
    BackgroundColorButton->setStyleSheet(
        QStringLiteral("background-color: %1; border: 1px solid black;").arg(colour.name()));
}

void TSettingsForm::ChooseBackgroundColour() {
    std::uint32_t colour = Values.BackgroundColor;
    bool chosen = false;
    if (AskColour) {
        chosen = AskColour(colour);
    } else {
        const QColor picked = QColorDialog::getColor(QColor::fromRgb(colour), this,
                                                     QStringLiteral("Background color"));
        chosen = picked.isValid();
        if (chosen) colour = picked.rgb();
    }
    if (!chosen) return;
    Values.BackgroundColor = colour | 0xFF000000u;
    ShowBackgroundColour();
    UseBackgroundColorCheckBox->setChecked(true);
}

bool TSettingsForm::AssocChanged() const {
    return AssociationGrid != nullptr && AssociationGrid->AssocChanged;
}

QStringList TSettingsForm::CheckedExtensions() const {
    return AssociationGrid != nullptr ? ::CheckedExtensions(AssociationGrid->Rows())
                                      : QStringList();
}

QStringList TSettingsForm::UncheckedExtensions() const {
    return AssociationGrid != nullptr ? ::UncheckedExtensions(AssociationGrid->Rows())
                                      : QStringList();
}

TAssociationWriter& TSettingsForm::AssociationWriter() {
    if (!m_associationWriter) m_associationWriter = std::make_unique<TAssociationWriter>();
    return *m_associationWriter;
}

void TSettingsForm::ApplyAssociations(std::function<void(const QString& reason)> failed) {
    AssociationWriter().Start(CheckedExtensions(), UncheckedExtensions(),
                              [failed = std::move(failed)](const QString& error) {
                                  if (!error.isEmpty() && failed) failed(error);
                              });
}

int TSettingsForm::DelaySeconds() const {
    return TimerDelayLMDSpinEdit != nullptr ? TimerDelayLMDSpinEdit->value() : 5;
}

QString TSettingsForm::EffectName() const {
    return EffectComboBox != nullptr && EffectComboBox->currentIndex() >= 0
               ? EffectComboBox->currentText()
               : QString();
}

TSettingsForm::TSimpleModeValues TSettingsForm::SimpleModeValues() const {
    if (BlendTrackBar == nullptr) return {};
    return {BlendTrackBar->value(), NumberOr0(WidthLabeledEdit->Text()),
            NumberOr0(HeightLabeledEdit->Text())};
}

void TSettingsForm::done(int result) {
    if (result == QDialog::Accepted) {
        // The filter is a value of the dialog like the others: stored with them.
        if (FilterListBox != nullptr) Values.FilterKind = FilterListBox->SelectedKind();
        try {
            SaveToRegistry();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pictrel: settings not saved: %s\n", e.what());
        }
    } else {
        // Captured keys and changed options are forgotten; the stored ones apply again.
        LoadFromRegistry();
    }
    if (EffectPreview != nullptr) EffectPreview->Stop();
    QDialog::done(result);
}
