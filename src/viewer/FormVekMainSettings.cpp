// The viewer's side of the settings dialog: the dialog's values taken as the viewer's
// shortcuts and options, and what its OK returns applied. The dialog itself is reached
// through Ports (the composition root runs it).

#include "gfx/ImgView32Widget.h"
#include "gfx/Resampler.h"
#include "layers/VekAdditionalLayers.h"
#include "viewer/FormVekMain.h"

#include <QAction>

#include <algorithm>

void TMainForm::TakeDialogValues(const TDialogStoreValues& values) {
    DialogValues = values;
    VekImageLoaderPro.Settings().ExifOrientation = DialogValues.ExifOrientation;
    ApplyShortcuts(DialogValues);
}

void TMainForm::TakeShortcuts(const TDialogStoreValues& values) {
    DialogValues = values;
    ApplyShortcuts(DialogValues);
}

void TMainForm::SettingsActionExecute() {
    if (Ports.OpenSettings) Ports.OpenSettings();
}

void TMainForm::ApplySettings(const TDialogStoreValues& values, const TSimpleModeSettings& simple) {
    SimpleBlend = std::clamp(simple.Blend, 0, 255);
    // A size that is not a positive number would leave a frame nobody can find.
    if (simple.Width > 0) SimpleWidth = simple.Width;
    if (simple.Height > 0) SimpleHeight = simple.Height;
    ApplySimpleGeometry();

    const bool orientationChanged = DialogValues.ExifOrientation != values.ExifOrientation;
    TakeDialogValues(values);

    ImgView32->BeginUpdate();
    MakeResampler(DialogValues.FilterKind, ImgView32->Bitmap);
    ImgView32->EndUpdate();
    ImgView32->Invalidate();
    MainToolbar->SetBigIcons(DialogValues.BigIcons);
    UpdateToolbar();
    // The shown picture is read again, turned or not as the option now says.
    if (orientationChanged && !m_nav.Shown().isEmpty()) {
        m_nav.ShowFile(m_nav.Shown());
        AfterNavigation();
    }
}
