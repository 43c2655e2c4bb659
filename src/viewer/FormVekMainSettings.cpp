// The viewer's side of the settings dialog: the dialog's values taken as the viewer's
// shortcuts and options, and what its OK returns applied. The dialog itself is reached
// through Ports (the composition root runs it).

#include "gfx/ImgView32Widget.h"
#include "layers/VekAdditionalLayers.h"
#include "viewer/FormVekMain.h"

#include <QAction>

void TMainForm::TakeDialogValues(const TDialogStoreValues& values) {
    DialogValues = values;
    VekImageLoaderPro.Settings().ExifOrientation = DialogValues.ExifOrientation;
    VekImageLoaderPro.Settings().ColourManagement = DialogValues.ColourManagement;
    Actions.ApplyShortcuts(DialogValues);
}

void TMainForm::TakeShortcuts(const TDialogStoreValues& values) {
    DialogValues = values;
    Actions.ApplyShortcuts(DialogValues);
}

void TMainForm::SettingsActionExecute() {
    if (Ports.OpenSettings) Ports.OpenSettings();
}

void TMainForm::ApplySettings(const TDialogStoreValues& values, const TSimpleModeSettings& simple) {
    Simple.TakeSettings(simple.Blend, simple.Width, simple.Height);

    const bool orientationChanged = DialogValues.ExifOrientation != values.ExifOrientation ||
                                    DialogValues.ColourManagement != values.ColourManagement;
    TakeDialogValues(values);

    m_picture->SetFilter(DialogValues.FilterKind);
    Toolbars->MainToolbar->SetBigIcons(DialogValues.BigIcons);
    UpdateToolbar();
    // The shown picture is read again, turned or not as the option now says.
    if (orientationChanged && !m_nav.Shown().isEmpty()) {
        m_nav.ShowFile(m_nav.Shown());
        AfterNavigation();
    }
}
