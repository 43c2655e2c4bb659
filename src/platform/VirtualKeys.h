#pragma once

#include <QString>
#include <Qt>

#include <cstdint>

class QKeyEvent;

// Stored shortcuts keep the virtual-key format: the key code in the low byte plus
// these modifier bits.
inline constexpr std::uint16_t scShift = 0x2000;
inline constexpr std::uint16_t scCtrl = 0x4000;
inline constexpr std::uint16_t scAlt = 0x8000;

// Virtual-key codes the program names.
inline constexpr std::uint8_t vkBack = 8, vkTab = 9, vkReturn = 13, vkShift = 16, vkControl = 17,
                              vkMenu = 18, vkEscape = 27, vkSpace = 32, vkLeft = 37, vkUp = 38,
                              vkRight = 39, vkDown = 40, vkExecute = 43, vkEnd = 35, vkHome = 36,
                              vkInsert = 45, vkDelete = 46, vkC = 67, vkV = 86, vkX = 88,
                              vkAdd = 107, vkSubtract = 109, vkLShift = 160, vkRShift = 161,
                              vkLControl = 162, vkRControl = 163, vkLMenu = 164, vkRMenu = 165,
                              vkMediaNextTrack = 176, vkMediaPrevTrack = 177, vkMediaStop = 178,
                              vkMediaPlayPause = 179;

// The virtual-key code of a key as Qt reports it; 0 when it has none. The native
// key symbol and scan code tell the left and right modifier keys apart (X11 and
// Wayland key symbols, evdev-based scan codes); without them a modifier key maps
// to the plain Shift, Ctrl or Alt code.
[[nodiscard]] std::uint8_t VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers,
                                            quint32 nativeVirtualKey = 0,
                                            quint32 nativeScanCode = 0);

// Key code combined with the held modifiers. A modifier key pressed alone gives
// its own code without its own modifier bit (left Shift alone is 160, so the
// stored rotate shortcuts work); 0 for keys without a code.
[[nodiscard]] std::uint16_t ShortcutFromKeyEvent(const QKeyEvent& event);
[[nodiscard]] std::uint16_t ShortcutFromKey(int qtKey, Qt::KeyboardModifiers modifiers,
                                            quint32 nativeVirtualKey = 0,
                                            quint32 nativeScanCode = 0);

// Builds a shortcut value; a key code above 255 gives 0.
[[nodiscard]] std::uint16_t MakeShortcut(int virtualKey, bool shift, bool ctrl, bool alt);

// Text of a shortcut for display: modifiers in the order Shift, Ctrl, Alt, then
// the key name ("Ctrl+S", "Shift+Ctrl+P", "Left Shift", "Num +"). Empty for 0.
[[nodiscard]] QString ShortcutToText(std::uint16_t shortcut);

// Whether a key event matches a stored shortcut.
[[nodiscard]] bool ShortcutMatches(std::uint16_t shortcut, const QKeyEvent& event);
