#include "settings/FormVekSettings.h"

#include "app/SettingsLayout.h"
#include "common/SharedSlideshow.h"
#include "platform/Registry.h"
#include "platform/VirtualKeys.h"
#include "settings/AssociationGridWidget.h"
#include "settings/AssociationWriter.h"
#include "settings/FilterListWidget.h"
#include "settings/ShortcutEditWidget.h"
#include "settings/VekLabeledEditWidget.h"
#include "show/EffectPreviewWidget.h"
#include "show/TransformerByName.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <memory>
#include <ostream>
#include <string>

namespace {

class SettingsForm : public testing::Test, protected pictrel::test::SharedSlideshow {
protected:
    void SetUp() override {
        // Every test starts from an empty store.
        TRegistry reg;
        reg.DeleteKey(QStringLiteral("\\") + QLatin1String(layout::kSettingsKey));
        reg.CloseKey();
        CreateCurrentSlideshow();
        m_form = std::make_unique<TSettingsForm>(m_slideshow);
        m_form->OnShortcutsLoaded = [this] { ++m_loads; };
    }
    void TearDown() override {
        m_form.reset();
        FreeCurrentSlideshow();
    }

    void Prepare() { m_form->PrepareControls({200, 240, 135}); }
    TShortcutEdit* Field(std::uint16_t TDialogStoreValues::*member) const {
        for (const auto& f : m_form->ShortcutFields)
            if (f.Field == member) return f.Edit;
        return nullptr;
    }

    std::unique_ptr<TSettingsForm> m_form;
    int m_loads = 0;
};

TEST_F(SettingsForm, IsCheapUntilFirstPrepared) {
    EXPECT_EQ(m_form->Pages, nullptr);
    Prepare();
    ASSERT_NE(m_form->Pages, nullptr);
    const QStringList pages = {"Common",      "Slideshow",  "Associations",
                               "Simple mode", "Appearance", "About"};
    ASSERT_EQ(m_form->Pages->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i) EXPECT_EQ(m_form->Pages->tabText(i), pages[i]);
}

TEST_F(SettingsForm, AFreshStoreShowsTheDefaults) {
    Prepare();
    EXPECT_EQ(m_form->FilterListBox->SelectedKind(), 2);
    ASSERT_EQ(m_form->ShortcutFields.size(), 13U);
    const TDialogStoreValues defaults;
    for (const auto& f : m_form->ShortcutFields) {
        EXPECT_EQ(f.Edit->Shortcut(), defaults.*f.Field);
        EXPECT_EQ(f.Edit->text(), ShortcutToText(defaults.*f.Field));
    }
    EXPECT_EQ(Field(&TDialogStoreValues::ShortcutSimpleMode)->text(), "Ctrl+S");
    EXPECT_EQ(m_form->TimerDelayLMDSpinEdit->value(), 5);
    EXPECT_EQ(m_form->BlendTrackBar->value(), 200);
    EXPECT_EQ(m_form->WidthLabeledEdit->Text(), "240");
    EXPECT_TRUE(m_form->ExifOrientationCheckBox->isChecked());
    EXPECT_TRUE(m_form->ColourManagementCheckBox->isChecked());
    EXPECT_FALSE(m_form->DeleteToTrashCheckBox->isChecked());
}

TEST_F(SettingsForm, AKeyPressedInAFieldBecomesItsShortcut) {
    Prepare();
    TShortcutEdit* next = Field(&TDialogStoreValues::ShortcutRight);
    int changes = 0;
    next->OnChange = [&](std::uint16_t) { ++changes; };
    // One press of P with Ctrl and Shift held (QTest would press the modifiers first,
    // and each of those is a shortcut of its own).
    const auto press = [&] {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QApplication::sendEvent(next, &event);
    };
    press();
    EXPECT_EQ(next->Shortcut(), 0x6050);
    EXPECT_EQ(next->text(), ShortcutToText(0x6050));
    EXPECT_EQ(changes, 1);
    press();
    EXPECT_EQ(changes, 1) << "the same key again changes nothing";
    // Escape and Enter are keys to capture here, not the dialog's buttons.
    QTest::keyClick(next, Qt::Key_Escape);
    EXPECT_EQ(next->Shortcut(), 27);
}

// The keyboard's media keys are taken like any other key.
TEST_F(SettingsForm, MediaKeysAreCapturedByTheirNames) {
    Prepare();
    TShortcutEdit* play = Field(&TDialogStoreValues::ShortcutPlayPause);
    const struct {
        Qt::Key Key;
        std::uint16_t Value;
        const char* Text;
    } cases[] = {{Qt::Key_MediaTogglePlayPause, 179, "Play/Pause"},
                 {Qt::Key_MediaStop, 178, "Stop"},
                 {Qt::Key_MediaNext, 176, "Next Track"},
                 {Qt::Key_MediaPrevious, 177, "Previous Track"},
                 {Qt::Key_MediaPlay, 179, "Play/Pause"}};
    for (const auto& c : cases) {
        QKeyEvent event(QEvent::KeyPress, c.Key, Qt::NoModifier);
        QApplication::sendEvent(play, &event);
        EXPECT_EQ(play->Shortcut(), c.Value) << c.Text;
        EXPECT_EQ(play->text(), QString::fromLatin1(c.Text));
        EXPECT_EQ(m_form->Values.ShortcutPlayPause, c.Value);
    }
}

TEST_F(SettingsForm, CancelForgetsWhatWasCapturedAndOkStoresIt) {
    Prepare();
    TShortcutEdit* next = Field(&TDialogStoreValues::ShortcutRight);
    const int loadsBefore = m_loads;
    QTest::keyClick(next, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m_form->Values.ShortcutRight, 0x6050) << "taken at once";
    m_form->reject();
    EXPECT_EQ(m_form->Values.ShortcutRight, layout::kDefaultShortcutRight);
    EXPECT_EQ(m_loads, loadsBefore + 1) << "the viewer applies the stored keys again";

    Prepare();
    QTest::keyClick(next, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    m_form->FilterListBox->SelectKind(4);
    m_form->accept();
    const TDialogStoreValues stored = TDialogStoreValues::Load();
    EXPECT_EQ(stored.ShortcutRight, 0x6050);
    EXPECT_EQ(stored.FilterKind, 4) << "the filter is stored with the other values";
}

TEST_F(SettingsForm, TheSlideshowEffectIsChosenByName) {
    struct {
        const char* Stored;
        QString Shown;
    } const cases[] = {{"Slide", "Slide"}, {"rain", "Rain"}, {"Wind", ""}};
    for (const auto& c : cases) {
        CurrentSlideshow()->Transformer = TransformerByName(c.Stored);
        CurrentSlideshow()->Delay = 7400;
        Prepare();
        EXPECT_EQ(m_form->EffectName(), c.Shown) << c.Stored;
        EXPECT_EQ(m_form->DelaySeconds(), 7);
        EXPECT_EQ(m_form->EffectPreview->EffectIndex(), m_form->EffectComboBox->currentIndex());
    }
    EXPECT_EQ(m_form->EffectComboBox->count(), 6);
}

TEST_F(SettingsForm, AssociationButtonsAndClicks) {
    Prepare();
    TAssociationGrid* grid = m_form->AssociationGrid;
    ASSERT_GT(grid->rowCount(), 2);
    EXPECT_FALSE(m_form->AssocChanged());

    grid->CheckStandard();
    QSet<QString> standard;
    for (const TAssociationRow& row : grid->Rows())
        if (row.Standard)
            for (int k = 0; !ExtensionAt(row.Patterns, k).isEmpty(); ++k)
                standard.insert(ExtensionAt(row.Patterns, k));
    const QStringList checked = m_form->CheckedExtensions();
    EXPECT_EQ(QSet<QString>(checked.begin(), checked.end()), standard);
    EXPECT_TRUE(m_form->UncheckedExtensions().contains("pcx"));

    grid->CheckAll(false);
    EXPECT_TRUE(m_form->CheckedExtensions().isEmpty());
    Prepare();
    EXPECT_FALSE(m_form->AssocChanged()) << "a new preparation starts unchanged";
    const bool before = grid->Rows()[1].Associated;
    grid->Toggle(1);
    grid->Toggle(1);
    EXPECT_EQ(grid->Rows()[1].Associated, before);
    EXPECT_TRUE(m_form->AssocChanged()) << "two clicks still count as a change";
}

TEST_F(SettingsForm, SimpleModeSizesReadAsNumbers) {
    Prepare();
    struct {
        const char* Typed;
        int Read;
    } const cases[] = {{"12a", 12}, {"", 0}, {"99999999999", 0}, {"x", 0}, {"640", 640}};
    for (const auto& c : cases) {
        m_form->WidthLabeledEdit->SetText(QString());
        QTest::keyClicks(m_form->WidthLabeledEdit->Edit(), QString::fromLatin1(c.Typed));
        EXPECT_EQ(m_form->SimpleModeValues().Width, c.Read) << c.Typed;
    }
}

TEST_F(SettingsForm, ChosenBackgroundColourIsOpaqueAndSwitchedOn) {
    Prepare();
    m_form->AskColour = [](std::uint32_t& colour) {
        colour = 0x00336699;
        return true;
    };
    EXPECT_FALSE(m_form->UseBackgroundColorCheckBox->isChecked());
    m_form->BackgroundColorButton->click();
    EXPECT_EQ(m_form->Values.BackgroundColor, 0xFF336699U);
    EXPECT_TRUE(m_form->UseBackgroundColorCheckBox->isChecked());
    EXPECT_TRUE(m_form->Values.UseBackgroundColor);
}

struct TDelayCase {
    int StoredMs;
    int ShownSeconds;
};

void PrintTo(const TDelayCase& c, std::ostream* os) {
    *os << c.StoredMs << " ms";
}

class SettingsFormDelay : public SettingsForm, public testing::WithParamInterface<TDelayCase> {};

TEST_P(SettingsFormDelay, RoundsHalfToEven) {
    CurrentSlideshow()->Delay = GetParam().StoredMs;
    Prepare();
    EXPECT_EQ(m_form->DelaySeconds(), GetParam().ShownSeconds);
}

INSTANTIATE_TEST_SUITE_P(Seconds, SettingsFormDelay,
                         testing::Values(TDelayCase{2500, 2}, TDelayCase{3500, 4},
                                         TDelayCase{4500, 4}, TDelayCase{500, 0},
                                         TDelayCase{2501, 3}, TDelayCase{7400, 7}),
                         [](const testing::TestParamInfo<TDelayCase>& info) {
                             return "Ms" + std::to_string(info.param.StoredMs);
                         });

// OK hands the grid to a worker: the window's thread only starts it.
TEST_F(SettingsForm, OkWritesTheAssociationsOffTheWindowThread) {
    Prepare();
    m_form->AssociationGrid->CheckStandard();
    QString failure = QStringLiteral("not reported");
    m_form->ApplyAssociations([&](const QString& reason) { failure = reason; });
    m_form->AssociationWriter().Wait();
    EXPECT_EQ(failure, "not reported") << "a run that worked reports nothing";
    TRegistry classes(TRegRoot::rrClassesRoot);
    ASSERT_TRUE(classes.OpenKey(QStringLiteral("\\.png"), false));
    EXPECT_EQ(classes.ReadString({}).value_or(QString()), "Pictrel.png");
    ASSERT_TRUE(classes.OpenKey(QStringLiteral("\\.pcx"), false));
    EXPECT_NE(classes.ReadString({}).value_or(QString()), "Pictrel.pcx");
}

} // namespace
