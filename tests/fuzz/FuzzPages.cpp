// libFuzzer target over the page switch of multi-page files: each input becomes a GIF,
// TIFF or icon file (first byte), is loaded through a real TVekImageLoaderPro, and the
// loader's open handle is handed to a TVekMultipageBitmap that draws pages out of order
// and steps a GIF's animation, as the viewer's page keys and the frame timer do.
#include "loading/FreeImageSetup.h"
#include "loading/ImageLimits.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/VekMultipageBitmap.h"

#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

const char* const kExtensions[] = {"gif", "tif", "ico"};
// Pages looked at per input: enough to switch back and forth, few enough to stay fast.
constexpr int kMaxPages = 6;

pictrel::fuzz::TLoaderTarget g_target;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_target.Start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!g_target.Load(data, size, kExtensions)) return 0;
    {
        TVekMultipageBitmap pages;
        int frames = 0;
        pages.OnBitmapChange = [&](TVekMultipageBitmap&, TBitmap32&) { ++frames; };
        pages.Assign(*g_target.Loader);
        const int count = std::min(pages.FrameCount(), kMaxPages);
        TBitmap32 target;
        // Last page first, then forwards, as a jump to the end and paging back do; the
        // holder checks each page's size itself.
        for (int i = count - 1; i >= 0; --i) pages.DrawPage(i, &target);
        for (int i = 0; i < count; ++i) pages.DrawPage(i, &target);
        pages.DrawPage(-1, &target);
        pages.DrawPage(pages.FrameCount(), &target);
        // A GIF's frames as the timer composes them, wrapping round once (the loader
        // checked every frame of a GIF).
        if (pages.ImageKind() == TVekImageKind::ikGif)
            for (int i = 0; i < count + 1; ++i) pages.FrameTimerTimer();
        // The holder hands its handle on, as the viewer's holders pass it between them.
        TVekMultipageBitmap other;
        other.Assign(pages);
        if (count > 0) other.DrawPage(0, &target);
    }
    g_target.Loader->ReleaseSource();
    return 0;
}
