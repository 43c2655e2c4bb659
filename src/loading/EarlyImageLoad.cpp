#include "loading/EarlyImageLoad.h"

#include "loading/DecoderPool.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <memory>
#include <mutex>

namespace {

std::mutex g_mutex;
TEarlyImageLoad* g_early = nullptr; // until taken or destroyed
TEarlyImageLoad* g_quick = nullptr; // until destroyed

} // namespace

TEarlyImageLoad::TEarlyImageLoad(TImageLoadRequest request) : m_request(std::move(request)) {
    // The toolkit's readers draw with the toolkit, which starts on the main thread
    // meanwhile (drawing an SVG here crashed the start under X11).
    m_request.UseSecondary = false;
    // Asked for by the box's size; the drawing waits here for its window.
    if (m_request.Quick.Width > 0 && m_request.Quick.Height > 0)
        m_request.Quick.Ready = [this](TDrawnPicture&& drawn) { QuickLookReady(std::move(drawn)); };
    m_done = std::async(std::launch::async, [this] {
        RunImageLoadIsolated(m_request, m_stop, m_result);
        m_finished = true;
    });
    const std::lock_guard lock(g_mutex);
    g_early = this;
    g_quick = this;
}

TEarlyImageLoad::~TEarlyImageLoad() {
    {
        const std::lock_guard lock(g_mutex);
        if (g_early == this) g_early = nullptr;
        if (g_quick == this) g_quick = nullptr;
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

void TEarlyImageLoad::QuickLookReady(TDrawnPicture&& drawn) {
    std::function<void(const QString&, TDrawnPicture&&)> show;
    {
        const std::lock_guard lock(g_mutex);
        if (!m_quickListener) {
            // Only the latest drawing is worth showing.
            m_quick = std::move(drawn);
            m_quickReady = true;
            return;
        }
        // Kept for the drawings that follow while a picture arrives row by row.
        show = m_quickListener;
    }
    // The application may be going: the event then goes with it.
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [show = std::move(show), file = m_request.FileName,
         drawn = std::make_shared<TDrawnPicture>(std::move(drawn))] {
            show(file, std::move(*drawn));
        },
        Qt::QueuedConnection);
}

void TEarlyImageLoad::WhenQuickLook(std::function<void(const QString&, TDrawnPicture&&)> show) {
    QString file;
    TDrawnPicture drawn;
    {
        const std::lock_guard lock(g_mutex);
        TEarlyImageLoad* early = g_quick;
        if (early == nullptr || !early->m_request.Quick.Ready) return;
        early->m_quickListener = show;
        if (!early->m_quickReady) return;
        early->m_quickReady = false;
        file = early->m_request.FileName;
        drawn = std::move(early->m_quick);
    }
    show(file, std::move(drawn));
}
