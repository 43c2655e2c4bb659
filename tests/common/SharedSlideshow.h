#pragma once

// The slideshow description a test's windows share, held by the fixture as the
// composition root holds it in the program. The windows keep a reference to it, so
// "create" and "free" give it a fresh description's values rather than a new object.

#include "show/VekSettingsFile.h"

#include <utility>

namespace pictrel::test {

class SharedSlideshow {
protected:
    TVekSettingsFile* CurrentSlideshow() { return &m_slideshow; }
    void CreateCurrentSlideshow() { Reset(); }
    void FreeCurrentSlideshow() { Reset(); }

    TVekSettingsFile m_slideshow;

private:
    void Reset() {
        TVekSettingsFile fresh;
        m_slideshow.ImageList = fresh.ImageList;
        m_slideshow.MusicList = fresh.MusicList;
        m_slideshow.Transformer = std::move(fresh.Transformer);
        m_slideshow.Delay = fresh.Delay;
        m_slideshow.Shuffle = fresh.Shuffle;
        m_slideshow.RepeatAll = fresh.RepeatAll;
    }
};

} // namespace pictrel::test
