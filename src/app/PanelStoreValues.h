#pragma once

#include "app/SettingsLayout.h"

#include <QString>

#include <optional>

// One panel's stored values (its subkey below Settings). Each is optional: a
// panel keeps its current location, font and flags for the values not stored.
struct TPanelStoreValues {
    std::optional<double> Left, Right, Bottom, Top;
    std::optional<QString> TextFont;
    std::optional<bool> ShowRed, ShowGreen, ShowBlue, ShowGray, ShowComment;

    // Full key path of a panel's subkey.
    [[nodiscard]] static QString KeyPath(layout::TPanel panel);
    [[nodiscard]] static TPanelStoreValues Load(layout::TPanel panel);
    // Writes the values that are set (location in the order left, right, bottom,
    // top); throws ERegistryError when the store cannot be saved.
    void Save(layout::TPanel panel) const;
};
