#include "app/DialogStoreValues.h"

#include "platform/Registry.h"

namespace {

// Every stored shortcut and the field it belongs to.
struct TShortcutValue {
    const char* Name;
    std::uint16_t TDialogStoreValues::*Field;
};
constexpr TShortcutValue kShortcutValues[] = {
    {layout::kShortcutLeft, &TDialogStoreValues::ShortcutLeft},
    {layout::kShortcutRight, &TDialogStoreValues::ShortcutRight},
    {layout::kShortcutLeft2, &TDialogStoreValues::ShortcutLeft2},
    {layout::kShortcutRight2, &TDialogStoreValues::ShortcutRight2},
    {layout::kShortcutFitToPage, &TDialogStoreValues::ShortcutFitToPage},
    {layout::kShortcutReal, &TDialogStoreValues::ShortcutActual},
    {layout::kShortcutRotateLeft, &TDialogStoreValues::ShortcutRotateLeft},
    {layout::kShortcutRotateRight, &TDialogStoreValues::ShortcutRotateRight},
    {layout::kShortcutZoomIn, &TDialogStoreValues::ShortcutZoomIn},
    {layout::kShortcutZoomOut, &TDialogStoreValues::ShortcutZoomOut},
    {layout::kShortcutPlayPause, &TDialogStoreValues::ShortcutPlayPause},
    {layout::kShortcutSlideshowExit, &TDialogStoreValues::ShortcutSlideshowExit},
    {layout::kShortcutSimpleMode, &TDialogStoreValues::ShortcutSimpleMode},
};

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
    for (const TShortcutValue& s : kShortcutValues) ReadShortcut(reg, s.Name, v.*s.Field);
    if (const auto stored = reg.ReadInteger(kFilterName))
        v.FilterKind = FilterKindFromStored(*stored);
    if (const auto color = reg.ReadInteger(kBackgroundColor); color && (*color >> 24) != 0)
        v.BackgroundColor = std::uint32_t(*color);
    v.UseBackgroundColor = reg.ReadBool(kUseBackgroundColor).value_or(v.UseBackgroundColor);
    v.ShowFrame = reg.ReadBool(kShowFrame).value_or(v.ShowFrame);
    v.BigIcons = reg.ReadBool(kBigIcons).value_or(v.BigIcons);
    v.ExifOrientation = reg.ReadBool(kExifOrientation).value_or(v.ExifOrientation);
    v.ColourManagement = reg.ReadBool(kColourManagement).value_or(v.ColourManagement);
    v.DeleteToTrash = reg.ReadBool(kDeleteToTrash).value_or(v.DeleteToTrash);
    return v;
}

void TDialogStoreValues::Save() const {
    using namespace layout;
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    for (const TShortcutValue& s : kShortcutValues) reg.WriteInteger(s.Name, this->*s.Field);
    reg.WriteInteger(kFilterName, StoredFromFilterKind(FilterKind));
    reg.WriteInteger(kBackgroundColor, std::int32_t(BackgroundColor));
    reg.WriteBool(kUseBackgroundColor, UseBackgroundColor);
    reg.WriteBool(kShowFrame, ShowFrame);
    reg.WriteBool(kBigIcons, BigIcons);
    reg.WriteBool(kExifOrientation, ExifOrientation);
    reg.WriteBool(kColourManagement, ColourManagement);
    reg.WriteBool(kDeleteToTrash, DeleteToTrash);
    reg.CloseKey();
}
