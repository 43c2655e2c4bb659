// The settings dialog's round trip: prepared from the viewer, shown modally, and
// what it returns applied to the viewer, the shared slideshow and the desktop.

#include "app/AppContext.h"
#include "app/FileAssociations.h"
#include "authoring/CurrentSlideshow.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/Resampler.h"
#include "layers/VekAdditionalLayers.h"
#include "platform/Registry.h"
#include "settings/FormVekSettings.h"
#include "slideshow/TransformerByName.h"
#include "slideshow/VekRandomTransform.h"
#include "viewer/FormVekMain.h"

#include <QAction>
#include <QPointer>

#include <algorithm>
#include <cstdio>
#include <exception>

void TMainForm::AttachSettingsForm() {
    TSettingsForm* form = m_context.SettingsForm;
    SettingsAction->setEnabled(form != nullptr);
    if (MainToolbar) UpdateToolbar();
    if (form == nullptr) return;
    form->OnShortcutsLoaded = [this, form] {
        // Cancel forgets what the dialog captured: the stored values apply again.
        DialogValues = form->Values;
        ApplyShortcuts(DialogValues);
    };
    DialogValues = form->Values;
    VekImageLoaderPro.Settings().ExifOrientation = DialogValues.ExifOrientation;
    ApplyShortcuts(DialogValues);
}

void TMainForm::SettingsActionExecute() {
    TSettingsForm* form = m_context.SettingsForm;
    if (form == nullptr) return;
    form->PrepareControls({SimpleBlend, SimpleWidth, SimpleHeight});
    form->adjustSize();
    form->move(frameGeometry().center() - form->rect().center());
    const int result = ExecSettings ? ExecSettings(*form) : form->exec();
    if (result != QDialog::Accepted) return;

    if (form->AssocChanged())
        form->ApplyAssociations([self = QPointer<TMainForm>(this)](const QString& reason) {
            if (self)
                self->ShowWarning(QStringLiteral("Can't change the file associations\n") + reason);
        });

    if (TVekSettingsFile* slideshow = CurrentSlideshow()) {
        slideshow->Delay = form->DelaySeconds() * 1000;
        slideshow->Transformer = TransformerByName(form->EffectName());
        if (!slideshow->Transformer)
            slideshow->Transformer = std::make_unique<TVekRandomTransform>();
        // Kept now, not only when the program ends.
        try {
            StoreSlideshowValues(*slideshow);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pictrel: slideshow settings not saved: %s\n", e.what());
        }
    }

    const TSettingsForm::TSimpleModeValues simple = form->SimpleModeValues();
    SimpleBlend = std::clamp(simple.Blend, 0, 255);
    // A size that is not a positive number would leave a frame nobody can find.
    if (simple.Width > 0) SimpleWidth = simple.Width;
    if (simple.Height > 0) SimpleHeight = simple.Height;
    ApplySimpleGeometry();

    const bool orientationChanged = DialogValues.ExifOrientation != form->Values.ExifOrientation;
    DialogValues = form->Values;
    VekImageLoaderPro.Settings().ExifOrientation = DialogValues.ExifOrientation;
    ApplyShortcuts(DialogValues);

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
