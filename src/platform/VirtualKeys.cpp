#include "platform/VirtualKeys.h"

#include <QKeyEvent>

namespace {

// X11 key symbols of the modifier keys (xkb uses the same on Wayland).
constexpr quint32 xkShiftL = 0xffe1, xkShiftR = 0xffe2, xkControlL = 0xffe3, xkControlR = 0xffe4,
                  xkAltL = 0xffe9, xkAltR = 0xffea;
// X11 keycodes (evdev + 8) of the same keys.
constexpr quint32 scanShiftL = 50, scanShiftR = 62, scanControlL = 37, scanControlR = 105,
                  scanAltL = 64, scanAltR = 108;

std::uint8_t Sided(quint32 sym, quint32 scan, quint32 symLeft, quint32 symRight, quint32 scanLeft,
                   quint32 scanRight, std::uint8_t left, std::uint8_t right, std::uint8_t plain) {
    if (sym == symLeft) return left;
    if (sym == symRight) return right;
    if (scan == scanLeft) return left;
    if (scan == scanRight) return right;
    return plain;
}

// US-layout keys that Qt reports by their shifted symbol.
int UnshiftedKey(int key) {
    switch (key) {
    case Qt::Key_Exclam:
        return Qt::Key_1;
    case Qt::Key_At:
        return Qt::Key_2;
    case Qt::Key_NumberSign:
        return Qt::Key_3;
    case Qt::Key_Dollar:
        return Qt::Key_4;
    case Qt::Key_Percent:
        return Qt::Key_5;
    case Qt::Key_AsciiCircum:
        return Qt::Key_6;
    case Qt::Key_Ampersand:
        return Qt::Key_7;
    case Qt::Key_Asterisk:
        return Qt::Key_8;
    case Qt::Key_ParenLeft:
        return Qt::Key_9;
    case Qt::Key_ParenRight:
        return Qt::Key_0;
    case Qt::Key_Colon:
        return Qt::Key_Semicolon;
    case Qt::Key_Plus:
        return Qt::Key_Equal;
    case Qt::Key_Less:
        return Qt::Key_Comma;
    case Qt::Key_Underscore:
        return Qt::Key_Minus;
    case Qt::Key_Greater:
        return Qt::Key_Period;
    case Qt::Key_Question:
        return Qt::Key_Slash;
    case Qt::Key_AsciiTilde:
        return Qt::Key_QuoteLeft;
    case Qt::Key_BraceLeft:
        return Qt::Key_BracketLeft;
    case Qt::Key_Bar:
        return Qt::Key_Backslash;
    case Qt::Key_BraceRight:
        return Qt::Key_BracketRight;
    case Qt::Key_QuoteDbl:
        return Qt::Key_Apostrophe;
    case Qt::Key_Backtab:
        return Qt::Key_Tab;
    default:
        return key;
    }
}

struct TKeyName {
    int Code;
    const char* Name;
};

constexpr TKeyName kKeyNames[] = {
    {8, "Backspace"},     {9, "Tab"},          {12, "Clear"},        {13, "Enter"},
    {16, "Shift"},        {17, "Ctrl"},        {18, "Alt"},          {19, "Pause"},
    {20, "Caps Lock"},    {27, "Esc"},         {32, "Space"},        {33, "PgUp"},
    {34, "PgDown"},       {35, "End"},         {36, "Home"},         {37, "Left"},
    {38, "Up"},           {39, "Right"},       {40, "Down"},         {41, "Select"},
    {42, "Print"},        {43, "Execute"},     {44, "Print Screen"}, {45, "Ins"},
    {46, "Del"},          {47, "Help"},        {91, "Left Meta"},    {92, "Right Meta"},
    {93, "Menu"},         {106, "Num *"},      {107, "Num +"},       {108, "Num Enter"},
    {109, "Num -"},       {110, "Num ."},      {111, "Num /"},       {144, "Num Lock"},
    {145, "Scroll Lock"}, {160, "Left Shift"}, {161, "Right Shift"}, {162, "Left Ctrl"},
    {163, "Right Ctrl"},  {164, "Left Alt"},   {165, "Right Alt"},   {186, ";"},
    {187, "="},           {188, ","},          {189, "-"},           {190, "."},
    {191, "/"},           {192, "`"},          {219, "["},           {220, "\\"},
    {221, "]"},           {222, "'"},          {176, "Next Track"},  {177, "Previous Track"},
    {178, "Stop"},        {179, "Play/Pause"},
};

} // namespace

std::uint8_t VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey,
                              quint32 nativeScanCode) {
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    const quint32 sym = nativeVirtualKey, scan = nativeScanCode;
    switch (qtKey) {
    case Qt::Key_Shift:
        return Sided(sym, scan, xkShiftL, xkShiftR, scanShiftL, scanShiftR, vkLShift, vkRShift,
                     vkShift);
    case Qt::Key_Control:
        return Sided(sym, scan, xkControlL, xkControlR, scanControlL, scanControlR, vkLControl,
                     vkRControl, vkControl);
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return Sided(sym, scan, xkAltL, xkAltR, scanAltL, scanAltR, vkLMenu, vkRMenu, vkMenu);
    default:
        break;
    }
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return std::uint8_t(96 + qtKey - Qt::Key_0);
        switch (qtKey) {
        case Qt::Key_Asterisk:
            return 106;
        case Qt::Key_Plus:
            return vkAdd;
        case Qt::Key_Enter:
            return vkReturn;
        case Qt::Key_Minus:
            return vkSubtract;
        case Qt::Key_Period:
        case Qt::Key_Comma:
            return 110;
        case Qt::Key_Slash:
            return 111;
        default:
            break; // keypad arrows and the like are the ordinary keys
        }
    }
    const int key = UnshiftedKey(qtKey);
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return std::uint8_t('A' + key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return std::uint8_t('0' + key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return std::uint8_t(112 + key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace:
        return vkBack;
    case Qt::Key_Tab:
        return vkTab;
    case Qt::Key_Clear:
        return 12;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return vkReturn;
    case Qt::Key_Pause:
        return 19;
    case Qt::Key_CapsLock:
        return 20;
    case Qt::Key_Escape:
        return vkEscape;
    case Qt::Key_Space:
        return vkSpace;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return vkLeft;
    case Qt::Key_Up:
        return vkUp;
    case Qt::Key_Right:
        return vkRight;
    case Qt::Key_Down:
        return vkDown;
    case Qt::Key_Select:
        return 41;
    case Qt::Key_Printer:
        return 42;
    case Qt::Key_Execute:
        return vkExecute;
    case Qt::Key_Print:
        return 44;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Help:
        return 47;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        return 91;
    case Qt::Key_Super_R:
        return 92;
    case Qt::Key_Menu:
        return 93;
    case Qt::Key_NumLock:
        return 144;
    case Qt::Key_ScrollLock:
        return 145;
    case Qt::Key_Semicolon:
        return 186;
    case Qt::Key_Equal:
        return 187;
    case Qt::Key_Comma:
        return 188;
    case Qt::Key_Minus:
        return 189;
    case Qt::Key_Period:
        return 190;
    case Qt::Key_Slash:
        return 191;
    case Qt::Key_QuoteLeft:
        return 192;
    case Qt::Key_BracketLeft:
        return 219;
    case Qt::Key_Backslash:
        return 220;
    case Qt::Key_BracketRight:
        return 221;
    case Qt::Key_Apostrophe:
        return 222;
    // Keyboards send play and pause as one key, or as two that both toggle.
    case Qt::Key_MediaTogglePlayPause:
    case Qt::Key_MediaPlay:
    case Qt::Key_MediaPause:
        return vkMediaPlayPause;
    case Qt::Key_MediaStop:
        return vkMediaStop;
    case Qt::Key_MediaNext:
        return vkMediaNextTrack;
    case Qt::Key_MediaPrevious:
        return vkMediaPrevTrack;
    default:
        return 0;
    }
}

std::uint16_t MakeShortcut(int virtualKey, bool shift, bool ctrl, bool alt) {
    if (virtualKey < 0 || virtualKey > 255) return 0;
    std::uint16_t value = std::uint16_t(virtualKey);
    if (shift) value |= scShift;
    if (ctrl) value |= scCtrl;
    if (alt) value |= scAlt;
    return value;
}

std::uint16_t ShortcutFromKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeVirtualKey,
                              quint32 nativeScanCode) {
    const std::uint8_t vk = VirtualKeyFromQt(qtKey, modifiers, nativeVirtualKey, nativeScanCode);
    if (vk == 0) return 0;
    const bool isShift = qtKey == Qt::Key_Shift, isCtrl = qtKey == Qt::Key_Control,
               isAlt = qtKey == Qt::Key_Alt || qtKey == Qt::Key_AltGr;
    return MakeShortcut(vk, modifiers.testFlag(Qt::ShiftModifier) && !isShift,
                        modifiers.testFlag(Qt::ControlModifier) && !isCtrl,
                        modifiers.testFlag(Qt::AltModifier) && !isAlt);
}

std::uint16_t ShortcutFromKeyEvent(const QKeyEvent& event) {
    return ShortcutFromKey(event.key(), event.modifiers(), event.nativeVirtualKey(),
                           event.nativeScanCode());
}

QString ShortcutToText(std::uint16_t shortcut) {
    const int code = shortcut & 0xff;
    if (code == 0) return {};
    QString name;
    if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) {
        name = QChar(code);
    } else if (code >= 96 && code <= 105) {
        name = QStringLiteral("Num %1").arg(code - 96);
    } else if (code >= 112 && code <= 135) {
        name = QStringLiteral("F%1").arg(code - 111);
    } else {
        for (const TKeyName& entry : kKeyNames)
            if (entry.Code == code) name = QString::fromLatin1(entry.Name);
        if (name.isEmpty()) name = QStringLiteral("Key %1").arg(code);
    }
    QString text;
    if (shortcut & scShift) text += QStringLiteral("Shift+");
    if (shortcut & scCtrl) text += QStringLiteral("Ctrl+");
    if (shortcut & scAlt) text += QStringLiteral("Alt+");
    return text + name;
}

bool ShortcutMatches(std::uint16_t shortcut, const QKeyEvent& event) {
    return shortcut != 0 && ShortcutFromKeyEvent(event) == shortcut;
}
