#pragma once

#include "loading/ImageLoadJob.h"

#include <atomic>
#include <functional>
#include <future>

// A load started as soon as the command line names the picture, before the toolkit
// and the windows are up, so that decoding and the program's own start overlap.
//
// While one exists, a loader whose worker runs exactly the same request waits for it
// and takes its result instead of decoding the file again. Only a success is taken:
// formats whose decoders need the running application (the toolkit's image plugins)
// are simply loaded again the ordinary way.
class TEarlyImageLoad {
public:
    explicit TEarlyImageLoad(TImageLoadRequest request);
    // Stops the load if nobody took it and waits for its thread. Make it before the
    // loaders that may take it, so that they (and their workers) are gone first.
    ~TEarlyImageLoad();
    TEarlyImageLoad(const TEarlyImageLoad&) = delete;
    TEarlyImageLoad& operator=(const TEarlyImageLoad&) = delete;

    // Whether the load has ended (taken or not).
    [[nodiscard]] bool Done() const { return m_finished; }

    // Called on a loader's worker: true when the one early load of the process ran
    // `request` and succeeded; its result then moves into `result`. A set `stop`
    // passes on to the early load. Later calls find nothing.
    [[nodiscard]] static bool Take(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                                   TImageLoadResult& result);

    // The early load's quick look (see TImageLoadRequest::Quick), for the window that
    // waits for the picture: `show` gets the file and the drawing on the GUI thread, at
    // once when a drawing is already made (the latest), else when it is, and again for
    // each drawing that follows; never when there is none. Call with the application
    // running; one listener, which a later call replaces.
    static void WhenQuickLook(std::function<void(const QString&, TDrawnPicture&&)> show);

private:
    void QuickLookReady(TDrawnPicture&& drawn);

    TImageLoadRequest m_request;
    TDrawnPicture m_quick;
    bool m_quickReady = false; // guarded by the hand-off lock, as the listener
    std::function<void(const QString&, TDrawnPicture&&)> m_quickListener;
    TImageLoadResult m_result;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::future<void> m_done;
};
