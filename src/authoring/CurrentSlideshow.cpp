#include "authoring/CurrentSlideshow.h"

#include "app/SlideshowStoreValues.h"
#include "slideshow/TransformerByName.h"
#include "slideshow/VekRandomTransform.h"

#include <memory>

namespace {

std::unique_ptr<TVekSettingsFile> g_currentSlideshow;

} // namespace

TVekSettingsFile* CurrentSlideshow() {
    return g_currentSlideshow.get();
}

void CreateCurrentSlideshow() {
    g_currentSlideshow = std::make_unique<TVekSettingsFile>();
}

void FreeCurrentSlideshow() {
    g_currentSlideshow.reset();
}

void ReadStoredSlideshowValues(TVekSettingsFile& slideshow) {
    constexpr int kDayMs = 24 * 60 * 60 * 1000;
    const TSlideshowStoreValues stored = TSlideshowStoreValues::Load();
    if (stored.Delay >= 0 && stored.Delay <= kDayMs) slideshow.Delay = stored.Delay;
    if (stored.Effect) {
        slideshow.Transformer = TransformerByName(*stored.Effect);
        if (!slideshow.Transformer) slideshow.Transformer = std::make_unique<TVekRandomTransform>();
    }
    slideshow.Shuffle = stored.MusicShuffle;
    slideshow.RepeatAll = stored.MusicRepeatAll;
}

void StoreSlideshowValues(const TVekSettingsFile& slideshow) {
    TSlideshowStoreValues values;
    values.Delay = slideshow.Delay;
    if (slideshow.Transformer) values.Effect = slideshow.Transformer->Name;
    values.MusicShuffle = slideshow.Shuffle;
    values.MusicRepeatAll = slideshow.RepeatAll;
    values.Save();
}
