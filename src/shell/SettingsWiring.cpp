// The settings dialog's wiring: its values as the viewer's shortcuts and options, and
// the round trip the viewer asks for (prepared from the viewer, shown modally, and
// what OK returns applied to the viewer, the slideshow description and the desktop).

#include "authoring/FormVekWizard.h"
#include "settings/FormVekSettings.h"
#include "shell/CompositionRoot.h"
#include "show/StoredSlideshowValues.h"
#include "show/TransformerByName.h"
#include "show/VekRandomTransform.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

#include <QPointer>

#include <cstdio>
#include <exception>
#include <memory>

void TCompositionRoot::WireSettings() {
    TSettingsForm* form = m_settings;
    if (form == nullptr) return;
    if (m_viewer == nullptr) {
        form->OnShortcutsLoaded = nullptr;
        return;
    }
    form->OnShortcutsLoaded = [this] {
        // Cancel forgets what the dialog captured: the stored values apply again.
        if (m_viewer && m_settings) m_viewer->TakeShortcuts(m_settings->Values);
    };
    m_viewer->TakeDialogValues(form->Values);
}

void TCompositionRoot::RunSettings() {
    TSettingsForm* form = m_settings;
    TMainForm* viewer = m_viewer;
    if (form == nullptr || viewer == nullptr) return;
    const TMainForm::TSimpleModeSettings simple = viewer->SimpleModeSettings();
    form->PrepareControls({simple.Blend, simple.Width, simple.Height});
    form->adjustSize();
    form->move(viewer->frameGeometry().center() - form->rect().center());
    const int result = ExecSettings ? ExecSettings(*form) : form->exec();
    if (result != QDialog::Accepted) return;

    if (form->AssocChanged())
        form->ApplyAssociations([self = QPointer<TMainForm>(viewer)](const QString& reason) {
            if (self)
                self->Commands.ShowWarning(QStringLiteral("Can't change the file associations\n") +
                                           reason);
        });

    m_slideshow.Delay = form->DelaySeconds() * 1000;
    m_slideshow.Transformer = TransformerByName(form->EffectName());
    if (!m_slideshow.Transformer) m_slideshow.Transformer = std::make_unique<TVekRandomTransform>();
    // Kept now, not only when the program ends.
    try {
        StoreSlideshowValues(m_slideshow);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pictrel: slideshow settings not saved: %s\n", e.what());
    }

    const TSettingsForm::TSimpleModeValues chosen = form->SimpleModeValues();
    viewer->ApplySettings(form->Values, {chosen.Blend, chosen.Width, chosen.Height});
}
