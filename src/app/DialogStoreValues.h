#pragma once

#include "app/SettingsLayout.h"

#include <cstdint>

// The settings dialog's stored values. A shortcut value outside 0 ... 0xFFFF, a
// "filter name" outside 0 ... 2 and a fully transparent background colour read as
// absent, so their defaults apply.
struct TDialogStoreValues {
    std::uint16_t ShortcutLeft = layout::kDefaultShortcutLeft;
    std::uint16_t ShortcutRight = layout::kDefaultShortcutRight;
    std::uint16_t ShortcutLeft2 = layout::kDefaultShortcutLeft2;
    std::uint16_t ShortcutRight2 = layout::kDefaultShortcutRight2;
    std::uint16_t ShortcutFitToPage = layout::kDefaultShortcutFitToPage;
    std::uint16_t ShortcutActual = layout::kDefaultShortcutReal;
    std::uint16_t ShortcutRotateLeft = layout::kDefaultShortcutRotateLeft;
    std::uint16_t ShortcutRotateRight = layout::kDefaultShortcutRotateRight;
    std::uint16_t ShortcutZoomIn = layout::kDefaultShortcutZoomIn;
    std::uint16_t ShortcutZoomOut = layout::kDefaultShortcutZoomOut;
    std::uint16_t ShortcutPlayPause = layout::kDefaultShortcutPlayPause;
    std::uint16_t ShortcutSlideshowExit = layout::kDefaultShortcutSlideshowExit;
    std::uint16_t ShortcutSimpleMode = layout::kDefaultShortcutSimpleMode;
    int FilterKind = layout::kDefaultFilterKind; // 0 ... 4
    std::uint32_t BackgroundColor = layout::kDefaultBackgroundColor;
    bool UseBackgroundColor = layout::kDefaultUseBackgroundColor;
    bool ShowFrame = layout::kDefaultShowFrame;
    bool BigIcons = layout::kDefaultBigIcons;
    bool ExifOrientation = layout::kDefaultExifOrientation;
    // Pictures with an embedded colour profile are shown in the display's colours.
    bool ColourManagement = layout::kDefaultColourManagement;
    bool DeleteToTrash = layout::kDefaultDeleteToTrash;

    // Stored "filter name" 0, 1, 2 <-> filter kinds 0, 2, 4 (kinds 1 and 3 store
    // as their lower neighbour).
    [[nodiscard]] static int FilterKindFromStored(int stored);
    [[nodiscard]] static int StoredFromFilterKind(int kind);

    bool operator==(const TDialogStoreValues&) const = default;

    [[nodiscard]] static TDialogStoreValues Load();
    void Save() const; // throws ERegistryError when the store cannot be saved
};
