#include "show/StoredSlideshowValues.h"

#include "app/SlideshowStoreValues.h"
#include "app/StoreFailure.h"
#include "platform/StoreSnapshot.h"
#include "show/TransformerByName.h"
#include "show/VekRandomTransform.h"

#include <memory>

namespace {

// The slideshow's values as this process last read or stored them.
TStoreSnapshot& StoredValues() {
    static TStoreSnapshot stored;
    return stored;
}

TSlideshowStoreValues ValuesOf(const TVekSettingsFile& slideshow) {
    TSlideshowStoreValues values;
    values.Delay = slideshow.Delay;
    if (slideshow.Transformer) values.Effect = slideshow.Transformer->Name;
    values.MusicShuffle = slideshow.Shuffle;
    values.MusicRepeatAll = slideshow.RepeatAll;
    return values;
}

} // namespace

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
    StoredValues().Take([&] { ValuesOf(slideshow).Save(); });
}

void StoreSlideshowValues(const TVekSettingsFile& slideshow) {
    // Only what changed here: another Pictrel may have stored the others meanwhile.
    QString error;
    if (!StoredValues().WriteChanges([&] { ValuesOf(slideshow).Save(); }, &error))
        ReportStoreFailure(error);
}
