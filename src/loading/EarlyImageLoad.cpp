#include "loading/EarlyImageLoad.h"

#include <chrono>
#include <mutex>

namespace {

std::mutex g_mutex;
TEarlyImageLoad* g_early = nullptr; // until taken or destroyed

} // namespace

TEarlyImageLoad::TEarlyImageLoad(TImageLoadRequest request) : m_request(std::move(request)) {
    // The toolkit's readers draw with the toolkit, which starts on the main thread
    // meanwhile (drawing an SVG here crashed the start under X11).
    m_request.UseSecondary = false;
    m_done = std::async(std::launch::async, [this] {
        RunImageLoad(m_request, m_stop, m_result);
        m_finished = true;
    });
    const std::lock_guard lock(g_mutex);
    g_early = this;
}

TEarlyImageLoad::~TEarlyImageLoad() {
    {
        const std::lock_guard lock(g_mutex);
        if (g_early == this) g_early = nullptr;
    }
    m_stop = true;
    m_done.wait();
}

bool TEarlyImageLoad::Take(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                           TImageLoadResult& result) {
    TEarlyImageLoad* early = nullptr;
    {
        const std::lock_guard lock(g_mutex);
        if (g_early == nullptr || g_early->m_request.FileName != request.FileName ||
            g_early->m_request.PageIndex != request.PageIndex ||
            g_early->m_request.CombineAlpha != request.CombineAlpha ||
            !(g_early->m_request.Settings == request.Settings))
            return false;
        // Taken once: its owner's destructor still waits for the thread.
        early = g_early;
        g_early = nullptr;
    }
    while (early->m_done.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
        if (stop) early->m_stop = true;
    if (early->m_result.Status != TImageLoaderProStatus::ilSucces) return false;
    result = std::move(early->m_result);
    return true;
}
