#pragma once

#include "app/SettingsLayout.h"

#include <array>
#include <cstdint>

// The viewer window's stored values, read when the window is created and written
// when it goes. Missing (or wrongly typed) values take their defaults.
struct TViewerStoreValues {
    std::int32_t Width = layout::kDefaultMainFormWidth;
    std::int32_t Height = layout::kDefaultMainFormHeight;
    std::int32_t Left = layout::kDefaultMainFormLeft;
    std::int32_t Top = layout::kDefaultMainFormTop;
    std::int32_t WindowState = layout::kDefaultWindowState; // 0, 1 or 2
    std::int32_t SimpleWidth = 0, SimpleHeight = 0, SimpleLeft = 0, SimpleTop = 0;
    std::int32_t SimpleBlend = layout::kDefaultSimpleBlend;
    std::array<bool, layout::kPanelCount> LayerVisible{}; // in kPanelNames order

    // The defaults for a screen of the given size: the simple-mode window takes
    // one eighth of it in the bottom-right corner.
    [[nodiscard]] static TViewerStoreValues Defaults(int screenWidth, int screenHeight);

    // Reads in the order the viewer applies them (the simple-mode left and top
    // defaults use the simple width and height just read). Creates the key.
    [[nodiscard]] static TViewerStoreValues Load(int screenWidth, int screenHeight);
    // Writes every value; throws ERegistryError when the store cannot be saved.
    void Save() const;
};
