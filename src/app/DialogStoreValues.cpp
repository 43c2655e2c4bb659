#include "app/DialogStoreValues.h"

#include "platform/Registry.h"

namespace {

void ReadShortcut(TRegistry& reg, const char* name, std::uint16_t& value) {
    const auto stored = reg.ReadInteger(name);
    if (stored && *stored >= 0 && *stored <= 0xFFFF) value = std::uint16_t(*stored);
}

} // namespace

int TDialogStoreValues::FilterKindFromStored(int stored) {
    switch (stored) {
    case 0:
        return 0;
    case 1:
        return 2;
    case 2:
        return 4;
    default:
        return layout::kDefaultFilterKind;
    }
}

int TDialogStoreValues::StoredFromFilterKind(int kind) {
    if (kind <= 1) return 0;
    if (kind <= 3) return 1;
    return 2;
}

TDialogStoreValues TDialogStoreValues::Load() {
    using namespace layout;
    TDialogStoreValues v;
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    ReadShortcut(reg, kShortcutLeft, v.ShortcutLeft);
    ReadShortcut(reg, kShortcutRight, v.ShortcutRight);
    ReadShortcut(reg, kShortcutLeft2, v.ShortcutLeft2);
    ReadShortcut(reg, kShortcutRight2, v.ShortcutRight2);
    ReadShortcut(reg, kShortcutFitToPage, v.ShortcutFitToPage);
    ReadShortcut(reg, kShortcutReal, v.ShortcutActual);
    ReadShortcut(reg, kShortcutRotateLeft, v.ShortcutRotateLeft);
    ReadShortcut(reg, kShortcutRotateRight, v.ShortcutRotateRight);
    ReadShortcut(reg, kShortcutZoomIn, v.ShortcutZoomIn);
    ReadShortcut(reg, kShortcutZoomOut, v.ShortcutZoomOut);
    ReadShortcut(reg, kShortcutPlayPause, v.ShortcutPlayPause);
    ReadShortcut(reg, kShortcutSlideshowExit, v.ShortcutSlideshowExit);
    ReadShortcut(reg, kShortcutSimpleMode, v.ShortcutSimpleMode);
    if (const auto stored = reg.ReadInteger(kFilterName))
        v.FilterKind = FilterKindFromStored(*stored);
    if (const auto color = reg.ReadInteger(kBackgroundColor))
        v.BackgroundColor = std::uint32_t(*color);
    v.UseBackgroundColor = reg.ReadBool(kUseBackgroundColor).value_or(v.UseBackgroundColor);
    v.ShowFrame = reg.ReadBool(kShowFrame).value_or(v.ShowFrame);
    v.BigIcons = reg.ReadBool(kBigIcons).value_or(v.BigIcons);
    return v;
}

void TDialogStoreValues::Save() const {
    using namespace layout;
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    reg.WriteInteger(kShortcutLeft, ShortcutLeft);
    reg.WriteInteger(kShortcutRight, ShortcutRight);
    reg.WriteInteger(kShortcutLeft2, ShortcutLeft2);
    reg.WriteInteger(kShortcutRight2, ShortcutRight2);
    reg.WriteInteger(kShortcutFitToPage, ShortcutFitToPage);
    reg.WriteInteger(kShortcutReal, ShortcutActual);
    reg.WriteInteger(kShortcutRotateLeft, ShortcutRotateLeft);
    reg.WriteInteger(kShortcutRotateRight, ShortcutRotateRight);
    reg.WriteInteger(kShortcutZoomIn, ShortcutZoomIn);
    reg.WriteInteger(kShortcutZoomOut, ShortcutZoomOut);
    reg.WriteInteger(kShortcutPlayPause, ShortcutPlayPause);
    reg.WriteInteger(kShortcutSlideshowExit, ShortcutSlideshowExit);
    reg.WriteInteger(kShortcutSimpleMode, ShortcutSimpleMode);
    reg.WriteInteger(kFilterName, StoredFromFilterKind(FilterKind));
    reg.WriteInteger(kBackgroundColor, std::int32_t(BackgroundColor));
    reg.WriteBool(kUseBackgroundColor, UseBackgroundColor);
    reg.WriteBool(kShowFrame, ShowFrame);
    reg.WriteBool(kBigIcons, BigIcons);
    reg.CloseKey();
}
