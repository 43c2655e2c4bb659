// The settings dialog opened from the viewer through the composition root, and what
// its OK and Cancel leave behind.

#include "app/SettingsLayout.h"
#include "layers/VekAdditionalLayers.h"
#include "platform/Registry.h"
#include "settings/FilterListWidget.h"
#include "settings/FormVekSettings.h"
#include "settings/ShortcutEditWidget.h"
#include "settings/VekLabeledEditWidget.h"
#include "shell/CompositionRoot.h"
#include "viewer/ViewerFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

namespace {

using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

class ViewerSettings : public ViewerWindow {
protected:
    void SetUp() override {
        // As in the roles where the dialog exists before the viewer.
        m_root->MakeSettings();
        ViewerWindow::SetUp();
        m_root->Adopt(*m_form);
        WritePicture(Path("a.png"), qRgb(255, 0, 0));
        WritePicture(Path("b.png"), qRgb(0, 0, 255));
        m_form->OpenFile(Path("a.png"));
        ASSERT_TRUE(WaitShown("a.png"));
    }
    void TearDown() override {
        m_form.reset();
        m_root.reset(); // the dialog stores its values as it goes
        // What the dialog stored must not reach the next test of this process.
        TRegistry reg;
        reg.DeleteKey(QStringLiteral("\\") + QLatin1String(layout::kSettingsKey));
    }

    // Opens the dialog from the viewer; `edit` changes the pages, then the dialog
    // closes with `result`.
    void RunDialog(const std::function<void(TSettingsForm&)>& edit, int result) {
        m_root->ExecSettings = [&](TSettingsForm& form) {
            edit(form);
            form.done(result);
            return form.result();
        };
        ASSERT_TRUE(m_form->Actions.SettingsAction->isEnabled());
        m_form->Actions.SettingsAction->trigger();
    }

    static void CaptureNextImageKey(TSettingsForm& form) {
        for (const auto& f : form.ShortcutFields)
            if (f.Field == &TDialogStoreValues::ShortcutRight)
                QTest::keyClick(f.Edit, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    }

    TVekSettingsFile* CurrentSlideshow() { return &m_root->Slideshow(); }

    std::unique_ptr<TCompositionRoot> m_root = std::make_unique<TCompositionRoot>();
};

TEST_F(ViewerSettings, OkAppliesEveryPageAtOnce) {
    const int height = m_form->Simple.SimpleHeight;
    RunDialog(
        [](TSettingsForm& form) {
            CaptureNextImageKey(form);
            form.TimerDelayLMDSpinEdit->setValue(9);
            form.EffectComboBox->setCurrentText("Slide");
            form.BlendTrackBar->setValue(100);
            form.WidthLabeledEdit->SetText("320");
            form.HeightLabeledEdit->SetText("oops");
            form.FilterListBox->SelectKind(0);
            form.BigIconsCheckBox->setChecked(false);
        },
        QDialog::Accepted);
    EXPECT_EQ(m_form->DialogValues.ShortcutRight, 0x604E);
    EXPECT_EQ(m_form->DialogValues.FilterKind, 0);
    EXPECT_FALSE(m_form->DialogValues.BigIcons);
    EXPECT_EQ(m_form->ImgView32->Bitmap.Resampler, TResamplerKind::Nearest);
    EXPECT_EQ(CurrentSlideshow()->Delay, 9000);
    ASSERT_TRUE(CurrentSlideshow()->Transformer);
    EXPECT_EQ(CurrentSlideshow()->Transformer->Name, "Slide");
    EXPECT_EQ(m_form->Simple.SimpleBlend, 100);
    EXPECT_EQ(m_form->Simple.SimpleWidth, 320);
    EXPECT_EQ(m_form->Simple.SimpleHeight, height)
        << "a size that is not a number keeps the old one";

    // The new key steps to the next picture at once.
    QTest::keyClick(m_form.get(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(WaitShown("b.png"));
}

TEST_F(ViewerSettings, CancelLeavesTheStoredKeysInForce) {
    const TDialogStoreValues before = m_form->DialogValues;
    const int delay = CurrentSlideshow()->Delay;
    RunDialog(
        [](TSettingsForm& form) {
            CaptureNextImageKey(form);
            form.TimerDelayLMDSpinEdit->setValue(42);
        },
        QDialog::Rejected);
    EXPECT_EQ(m_form->DialogValues, before);
    EXPECT_EQ(CurrentSlideshow()->Delay, delay);
    QTest::keyClick(m_form.get(), Qt::Key_Right);
    EXPECT_TRUE(WaitShown("b.png"));
}

TEST_F(ViewerSettings, AnEffectNameNoneKnowsGivesARandomEffect) {
    RunDialog([](TSettingsForm& form) { form.EffectComboBox->setCurrentIndex(-1); },
              QDialog::Accepted);
    ASSERT_TRUE(CurrentSlideshow()->Transformer);
    EXPECT_EQ(CurrentSlideshow()->Transformer->Name, "Random");
}

// Colour management turned off in the dialog reaches the viewer's loader and the store.
TEST_F(ViewerSettings, ColourManagementCanBeTurnedOff) {
    ASSERT_TRUE(m_form->VekImageLoaderPro.Settings().ColourManagement);
    RunDialog([](TSettingsForm& form) { form.ColourManagementCheckBox->setChecked(false); },
              QDialog::Accepted);
    EXPECT_FALSE(m_form->VekImageLoaderPro.Settings().ColourManagement);
    EXPECT_FALSE(TDialogStoreValues::Load().ColourManagement);
}

TEST_F(ViewerSettings, DeleteMovesToTheTrashWhenChosen) {
    RunDialog([](TSettingsForm& form) { form.DeleteToTrashCheckBox->setChecked(true); },
              QDialog::Accepted);
    m_form->Actions.DeleteAction->trigger();
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(m_questions[0].contains("trash")) << m_questions[0].toStdString();
    if (!m_warnings.isEmpty())
        GTEST_SKIP() << "no trash on this file system: " << m_warnings[0].toStdString();
    EXPECT_FALSE(QFile::exists(Path("a.png")));
    // The trash of the test's private data folder holds it now.
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/a.png";
    EXPECT_TRUE(QFile::exists(trash)) << trash.toStdString();
}

} // namespace

namespace {

// The toolbar's buttons of the other windows follow their commands: the gear opens the
// settings of this run; the slideshow and wizard wait for their windows.
TEST_F(ViewerSettings, TheToolbarButtonsOfOtherWindowsFollowTheirCommands) {
    ASSERT_TRUE(m_form->Actions.SettingsAction->isEnabled());
    EXPECT_TRUE(m_form->Toolbars->Button(TViewerToolbars::TButton::Settings)->Enabled())
        << "settings";
    EXPECT_FALSE(m_form->Actions.SlideShowAction->isEnabled()) << "no slideshow window in this run";
    EXPECT_FALSE(m_form->Toolbars->Button(TViewerToolbars::TButton::SlideShow)->Enabled())
        << "slideshow";
    EXPECT_FALSE(m_form->Toolbars->Button(TViewerToolbars::TButton::Wizard)->Enabled()) << "wizard";
}

} // namespace
