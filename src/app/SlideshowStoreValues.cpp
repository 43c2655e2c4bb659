#include "app/SlideshowStoreValues.h"

#include "platform/Registry.h"

TSlideshowStoreValues TSlideshowStoreValues::Load() {
    using namespace layout;
    TSlideshowStoreValues v;
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    v.Delay = reg.ReadInteger(kSlideshowDelay).value_or(v.Delay);
    v.Effect = reg.ReadString(kSlideshowEffect);
    v.MusicShuffle = reg.ReadBool(kSlideshowMusicShuffle).value_or(false);
    v.MusicRepeatAll = reg.ReadBool(kSlideshowMusicRepeatAll).value_or(false);
    return v;
}

void TSlideshowStoreValues::Save() const {
    using namespace layout;
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    reg.WriteInteger(kSlideshowDelay, Delay);
    if (Effect) reg.WriteString(kSlideshowEffect, *Effect);
    reg.WriteBool(kSlideshowMusicShuffle, MusicShuffle);
    reg.WriteBool(kSlideshowMusicRepeatAll, MusicRepeatAll);
    reg.CloseKey();
}
