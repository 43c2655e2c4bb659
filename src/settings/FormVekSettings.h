#pragma once

#include "app/DialogStoreValues.h"
#include "platform/StoreSnapshot.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class TAssociationGrid;
class TAssociationWriter;
class TEffectPreview;
class TFilterListBox;
class TShortcutEdit;
class TVekLabeledEdit;
class TVekSettingsFile;

// The modal settings dialog; created hidden at start-up and kept until the end.
// Its values (Values) are what the viewer and the slideshow read at any time; the
// slideshow page starts from the run's slideshow description, lent at construction
// by the composition root (which applies what the dialog returns). The
// controls are made the first time the dialog is prepared, so that creating it at
// start-up costs next to nothing.
class TSettingsForm : public QDialog {
public:
    explicit TSettingsForm(const TVekSettingsFile& slideshow);
    ~TSettingsForm() override;

    // Shortcuts, filter, background, frame, icons and our own two options.
    TDialogStoreValues Values;

    // The simple-mode values the dialog edits for the viewer.
    struct TSimpleModeValues {
        int Blend = 0;
        int Width = 0;
        int Height = 0;
    };

    // Reads the stored values into Values (each only when stored), then tells the
    // viewer (OnShortcutsLoaded) to apply the shortcuts.
    void LoadFromRegistry();
    // Writes Values; throws ERegistryError when the store cannot be written.
    void SaveToRegistry();
    // Fills the controls from Values, the shared slideshow description and the
    // viewer's simple-mode values, and rebuilds the association rows.
    void PrepareControls(const TSimpleModeValues& simple);

    // After OK: what the pages hold.
    [[nodiscard]] bool AssocChanged() const;
    [[nodiscard]] QStringList CheckedExtensions() const;
    [[nodiscard]] QStringList UncheckedExtensions() const;
    // After OK with a changed grid: the grid's outcome is written off the GUI thread;
    // `failed` gets the reason on the GUI thread when it could not be.
    void ApplyAssociations(std::function<void(const QString& reason)> failed);
    [[nodiscard]] TAssociationWriter& AssociationWriter();
    [[nodiscard]] int DelaySeconds() const;
    // The chosen effect's name; empty when none is chosen.
    [[nodiscard]] QString EffectName() const;
    // The page's values, a size that is not a number read as 0.
    [[nodiscard]] TSimpleModeValues SimpleModeValues() const;

    // Set by the viewer: LoadFromRegistry's last step.
    std::function<void()> OnShortcutsLoaded;
    // The colour dialog on `current`; false when cancelled. QColorDialog unless replaced.
    std::function<bool(std::uint32_t& colour)> AskColour;

    // The controls, made by PrepareControls (null before).
    QTabWidget* Pages = nullptr;
    TFilterListBox* FilterListBox = nullptr;
    struct TShortcutField {
        TShortcutEdit* Edit;
        std::uint16_t TDialogStoreValues::*Field;
    };
    std::vector<TShortcutField> ShortcutFields;
    QSpinBox* TimerDelayLMDSpinEdit = nullptr;
    QComboBox* EffectComboBox = nullptr;
    TEffectPreview* EffectPreview = nullptr;
    TAssociationGrid* AssociationGrid = nullptr;
    QSlider* BlendTrackBar = nullptr;
    TVekLabeledEdit* WidthLabeledEdit = nullptr;
    TVekLabeledEdit* HeightLabeledEdit = nullptr;
    QCheckBox* UseBackgroundColorCheckBox = nullptr;
    QPushButton* BackgroundColorButton = nullptr;
    QCheckBox* ShowFrameCheckBox = nullptr;
    QCheckBox* BigIconsCheckBox = nullptr;
    QCheckBox* ExifOrientationCheckBox = nullptr;
    QCheckBox* ColourManagementCheckBox = nullptr;
    QCheckBox* DeleteToTrashCheckBox = nullptr;
    QLabel* AboutLinkLabel = nullptr;

    // The page of the program's documentation; empty when none is installed.
    [[nodiscard]] static QString DocumentationUrl();

    void done(int result) override;

private:
    // The dialog's values as stored, so that saving writes only what changed.
    TStoreSnapshot m_stored;
    void CreateControls();
    QWidget* CreateCommonPage();
    QWidget* CreateSlideshowPage();
    QWidget* CreateAssociationsPage();
    QWidget* CreateSimpleModePage();
    QWidget* CreateAppearancePage();
    QWidget* CreateAboutPage();
    void ShowBackgroundColour();
    void ChooseBackgroundColour();

    const TVekSettingsFile& m_slideshow;
    std::unique_ptr<TAssociationWriter> m_associationWriter;
};
