#pragma once

#include "app/SettingsLayout.h"

#include <QString>

#include <cstdint>
#include <optional>

// The slideshow's stored values. `Effect` is absent when nothing is stored: the
// slideshow description then keeps its initial (blend) effect.
struct TSlideshowStoreValues {
    std::int32_t Delay = layout::kDefaultSlideshowDelay;
    std::optional<QString> Effect;
    bool MusicShuffle = false;
    bool MusicRepeatAll = false;

    [[nodiscard]] static TSlideshowStoreValues Load();
    void Save() const; // throws ERegistryError when the store cannot be saved
};
