#include "platform/VirtualKeys.h"

#include <gtest/gtest.h>

#include <QKeyEvent>

namespace {

struct TKeyCase {
    const char* Name;
    int Key;
    Qt::KeyboardModifiers Modifiers;
    quint32 NativeVirtualKey;
    quint32 NativeScanCode;
    std::uint16_t Expected;
};

class ShortcutFromKeyTest : public ::testing::TestWithParam<TKeyCase> {};

TEST_P(ShortcutFromKeyTest, GivesTheStoredValue) {
    const TKeyCase& c = GetParam();
    const QKeyEvent event(QEvent::KeyPress, c.Key, c.Modifiers, 0, c.NativeVirtualKey, 0);
    const QKeyEvent withScan(QEvent::KeyPress, c.Key, c.Modifiers, c.NativeScanCode,
                             c.NativeVirtualKey, 0);
    EXPECT_EQ(ShortcutFromKeyEvent(c.NativeScanCode ? withScan : event), c.Expected);
}

const Qt::KeyboardModifiers kNone = Qt::NoModifier;
const Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
const Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;
const Qt::KeyboardModifiers kKeypad = Qt::KeypadModifier;

INSTANTIATE_TEST_SUITE_P(
    Keys, ShortcutFromKeyTest,
    ::testing::Values(
        TKeyCase{"CtrlS", Qt::Key_S, kCtrl, 0, 0, 16467},
        TKeyCase{"CtrlShiftP", Qt::Key_P, kCtrlShift, 0, 0, 0x6050},
        TKeyCase{"AltF4", Qt::Key_F4, Qt::AltModifier, 0, 0, 0x8000 | 115},
        TKeyCase{"LeftArrow", Qt::Key_Left, kNone, 0, 0, 37},
        TKeyCase{"Space", Qt::Key_Space, kNone, 0, 0, 32},
        TKeyCase{"Backspace", Qt::Key_Backspace, kNone, 0, 0, 8},
        TKeyCase{"Escape", Qt::Key_Escape, kNone, 0, 0, 27},
        TKeyCase{"KeypadPlus", Qt::Key_Plus, kKeypad, 0, 0, 107},
        TKeyCase{"KeypadMinus", Qt::Key_Minus, kKeypad, 0, 0, 109},
        TKeyCase{"KeypadSeven", Qt::Key_7, kKeypad, 0, 0, 103},
        TKeyCase{"MainPlusIsTheEqualsKey", Qt::Key_Plus, Qt::ShiftModifier, 0, 0, 0x2000 | 187},
        TKeyCase{"ShiftedOneIsDigitKey", Qt::Key_Exclam, Qt::ShiftModifier, 0, 0, 0x2000 | '1'},
        TKeyCase{"LeftShiftBySymbol", Qt::Key_Shift, Qt::ShiftModifier, 0xffe1, 0, 160},
        TKeyCase{"RightShiftBySymbol", Qt::Key_Shift, Qt::ShiftModifier, 0xffe2, 0, 161},
        TKeyCase{"LeftShiftByScanCode", Qt::Key_Shift, Qt::ShiftModifier, 0, 50, 160},
        TKeyCase{"RightShiftByScanCode", Qt::Key_Shift, Qt::ShiftModifier, 0, 62, 161},
        TKeyCase{"ShiftOfUnknownSide", Qt::Key_Shift, Qt::ShiftModifier, 0, 0, 16},
        TKeyCase{"RightCtrlWithShiftHeld", Qt::Key_Control, kCtrlShift, 0xffe4, 0, 0x2000 | 163},
        TKeyCase{"MediaPlayPause", Qt::Key_MediaTogglePlayPause, kNone, 0, 0, 179},
        TKeyCase{"MediaPlay", Qt::Key_MediaPlay, kNone, 0, 0, 179},
        TKeyCase{"MediaPause", Qt::Key_MediaPause, kNone, 0, 0, 179},
        TKeyCase{"MediaStop", Qt::Key_MediaStop, kNone, 0, 0, 178},
        TKeyCase{"MediaNext", Qt::Key_MediaNext, kNone, 0, 0, 176},
        TKeyCase{"MediaPrevious", Qt::Key_MediaPrevious, kNone, 0, 0, 177},
        TKeyCase{"CtrlMediaNext", Qt::Key_MediaNext, kCtrl, 0, 0, 0x4000 | 176},
        TKeyCase{"KeyWithoutCode", Qt::Key_VolumeUp, kNone, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TTextCase {
    const char* Name;
    std::uint16_t Value;
    const char* Text;
};

class ShortcutTextTest : public ::testing::TestWithParam<TTextCase> {};

TEST_P(ShortcutTextTest, NamesModifiersThenKey) {
    EXPECT_EQ(ShortcutToText(GetParam().Value), QString::fromUtf8(GetParam().Text));
}

INSTANTIATE_TEST_SUITE_P(
    Values, ShortcutTextTest,
    ::testing::Values(TTextCase{"CtrlS", 16467, "Ctrl+S"},
                      TTextCase{"ShiftCtrlP", 0x6050, "Shift+Ctrl+P"},
                      TTextCase{"AltF4", 0x8000 | 115, "Alt+F4"},
                      TTextCase{"LeftShift", 160, "Left Shift"},
                      TTextCase{"RightShift", 161, "Right Shift"},
                      TTextCase{"KeypadPlus", 107, "Num +"}, TTextCase{"Left", 37, "Left"},
                      TTextCase{"Digit", '7', "7"}, TTextCase{"PlayPause", 179, "Play/Pause"},
                      TTextCase{"Stop", 178, "Stop"}, TTextCase{"NextTrack", 176, "Next Track"},
                      TTextCase{"PreviousTrack", 177, "Previous Track"},
                      TTextCase{"Unnamed", 0xFF, "Key 255"}, TTextCase{"None", 0, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(MakeShortcut, KeyCodeAbove255GivesZero) {
    EXPECT_EQ(MakeShortcut(256, true, false, false), 0);
    EXPECT_EQ(MakeShortcut('S', false, true, false), 16467);
}

TEST(ShortcutMatches, StoredDefaultsMatchTheirKeys) {
    const QKeyEvent leftShift(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, 50, 0xffe1, 0);
    const QKeyEvent ctrlS(QEvent::KeyPress, Qt::Key_S, Qt::ControlModifier);
    const QKeyEvent plainS(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier);
    EXPECT_TRUE(ShortcutMatches(160, leftShift));
    EXPECT_FALSE(ShortcutMatches(161, leftShift));
    EXPECT_TRUE(ShortcutMatches(16467, ctrlS));
    EXPECT_FALSE(ShortcutMatches(16467, plainS));
}

} // namespace
