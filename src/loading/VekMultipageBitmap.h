#pragma once

#include "app/ThreadedTimer.h"
#include "gfx/Bitmap32.h"
#include "gfx/Color32.h"
#include "loading/FreeImagePtr.h"
#include "loading/GifFrame.h"
#include "loading/VekImageKind.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class TVekImageLoaderPro;

// Holds the open multi-page handle of a GIF, TIFF or icon file after a load and serves
// its pages. It never opens files: it takes the handle over from a loader or from
// another holder.
//
// A GIF is composed frame by frame onto a logical screen (`Composite`) as its animation
// metadata says; `Play` runs the frames on an idle-priority threaded timer whose ticks
// arrive on the GUI thread, and every composed frame is handed out as a copy through
// `OnBitmapChange`. TIFF and icon pages are converted on request by `DrawPage`.
//
// The next frame is decoded ahead on a worker thread: once a frame has been composed (by
// Assign or by a tick), the following page is locked, converted to 32 bits and read for
// its animation metadata there, so the tick on the GUI thread only blends the prepared
// frame onto `Composite` and hands the copy out. Decoding a full-screen GIF page costs
// several times as long as composing it, and doing it inside the tick kept the GUI thread
// busy for most of each frame. The tick joins the worker when it has not finished yet
// (a slow page delays its frame, as before) and decodes the page itself when nothing was
// prepared for it, so the frames are exactly those of decoding in the tick.
// A FreeImage handle must not be used by two threads at once: at most one worker runs,
// and every use of the handle on the GUI thread (DrawPage, Clear, Assign, handing the
// handle to another holder, destruction) first joins it. A prepared page is tagged with
// its index and is dropped when the next tick wants another one or the handle goes; it
// cannot be cancelled mid-decode, so such a join may wait for up to one page.
//
// Frame times of 0 are honoured, except when every frame of the file has time 0: once a
// whole cycle has passed without any delay, the frames follow each other at
// kAllZeroFrameTimeMs, so such a file animates visibly instead of keeping a core busy.
//
// Use it on the GUI thread only.
class TVekMultipageBitmap {
public:
    using TMultiPageBitmapChange =
        std::function<void(TVekMultipageBitmap& Sender, TBitmap32& Bitmap)>;

    // The logical screen of a GIF that names no background colour stays transparent,
    // so the view's own background shows where no frame has drawn, as it does for the
    // transparent pixels of the first page the loader hands out.
    static constexpr TColor32 kNoBackgroundColour = clTransparent32;
    // Frame time used when no frame of the animation has any delay.
    static constexpr std::int32_t kAllZeroFrameTimeMs = 100;
    // Frame time when a page has no "FrameTime".
    static constexpr std::int32_t kDefaultFrameTimeMs = 100;

    TVekMultipageBitmap();
    ~TVekMultipageBitmap();
    TVekMultipageBitmap(const TVekMultipageBitmap&) = delete;
    TVekMultipageBitmap& operator=(const TVekMultipageBitmap&) = delete;

    // Takes the loader's multi-page handle over (GIF, TIFF and icon loads only); the
    // loader's handle becomes null. A GIF's first frame is composed and handed out.
    void Assign(TVekImageLoaderPro& source);
    // Takes another holder's handle, kind and frame count over and leaves it empty.
    void Assign(TVekMultipageBitmap& source);

    // Starts the animation of a GIF with more than one frame; does nothing otherwise.
    void Play();
    // Stops the animation and goes back to the first page.
    void Stop();
    // Closes the handle and forgets everything.
    void Clear();
    // Converts page `index` into `target` and makes it the current page; does nothing
    // when the index is out of range or there is no target.
    void DrawPage(int index, TBitmap32* target);

    TMultiPageBitmapChange OnBitmapChange;

    // The worker may be reading it; for comparisons only.
    [[nodiscard]] FIMULTIBITMAP* MultiBitmap() const { return m_multiBitmap.get(); }
    [[nodiscard]] TThreadedTimer& FrameTimer() { return m_frameTimer; }
    [[nodiscard]] const TBitmap32& Composite() const { return m_composite; }
    [[nodiscard]] const TBitmap32& PreviousComposite() const { return m_previousComposite; }
    [[nodiscard]] TColor32 FrameBackground() const { return m_frameBackground; }
    [[nodiscard]] int CurrentIndex() const { return m_currentIndex; }
    [[nodiscard]] int FrameCount() const { return m_frameCount; }
    [[nodiscard]] TVekImageKind ImageKind() const { return m_imageKind; }
    [[nodiscard]] bool Playing() const { return m_playing; }

    // The frame timer's tick: composes the next frame and hands it out. Public so that
    // owners and tests can step the animation without waiting for real time.
    void FrameTimerTimer();

    // Pages (or the first page's background) read on the GUI thread by any holder so far;
    // lets tests see which reads the loader's worker spared the GUI thread.
    [[nodiscard]] static int GuiThreadPageReads() { return s_guiThreadPageReads.load(); }

private:
    // One page as read for the animation; its pixels are in m_frame.
    using TDecodedPage = TGifPage;

    static void DecodePage(FIMULTIBITMAP* handle, int index, TDecodedPage& page,
                           TBitmap32& pixels) noexcept;
    // Page `index`, from the worker when it prepared that one, else decoded here.
    TDecodedPage TakePage(int index);
    void StartPrefetch(int index);
    void JoinPrefetch();

    // `first`: the first frame as the loader's worker read it, if it did.
    void AfterAssign(std::unique_ptr<TGifFirstFrame> first);
    void ReadBackground();
    void ComposeFirstFrame(const TDecodedPage& page);
    void ComposeNextFrame(const TDecodedPage& page);
    void DrawFrame(const TDecodedPage& page);
    void SetFrameTime(std::optional<std::int64_t> value);
    void FireBitmapChange();

    TFreeImageMultiPtr m_multiBitmap;
    TThreadedTimer m_frameTimer;
    TBitmap32 m_composite;
    TBitmap32 m_previousComposite;
    TColor32 m_frameBackground = kNoBackgroundColour;
    int m_currentIndex = 0;
    int m_frameCount = 0;
    TVekImageKind m_imageKind = TVekImageKind::ikNone;
    // The file the handle was opened from and its format: pages other than the one the
    // loader checked are checked against the size rule before they are decoded.
    QByteArray m_path;
    FREE_IMAGE_FORMAT m_format = FIF_UNKNOWN;

    // Reused for every frame so that playing does not allocate per frame. While
    // m_prefetch runs, it and m_next belong to the worker; the GUI thread joins first.
    TBitmap32 m_frame;
    TDecodedPage m_next;
    std::thread m_prefetch;
    // Whether the animation should run; a tick re-enables the timer only while set, so
    // a Stop or Clear from inside OnBitmapChange holds.
    bool m_playing = false;
    // Frames composed in a row whose time was 0.
    int m_zeroTimeRun = 0;
    static std::atomic<int> s_guiThreadPageReads;
    // Lets a tick notice that OnBitmapChange destroyed the holder.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
