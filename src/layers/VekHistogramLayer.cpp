#include "layers/VekHistogramLayer.h"

#include "app/SettingsLayout.h"
#include "gfx/Bitmap32.h"
#include "gfx/SplitWork.h"
#include "layers/LayerCanvas.h"
#include "layers/LayerPaint.h"
#include "platform/Registry.h"
#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// A bin of this value holds 1/3000 of the pixels: enough for a channel to count as
// reaching that end of the range.
constexpr float kEndThreshold = 2.0f;
// Pictures smaller than this are counted on one thread.
constexpr std::size_t kPixelsWorthAThread = 1u << 16;

enum TChannel { chRed, chGreen, chBlue, chGray, chCount };

// Integer counts of one half of the picture. Neighbouring pixels go to alternate
// tables so that a run of equal pixels does not wait on its own increments. A table
// sees at most half the pixels of its half, so 32 bits would only overflow on a
// picture of more than 16 G pixels, which cannot be held.
struct TTally {
    std::uint32_t Bins[2][chCount][256];
};

inline void Add(std::uint32_t (&bins)[chCount][256], TColor32 c) {
    const int r = int((c >> 16) & 0xFF), g = int((c >> 8) & 0xFF), b = int(c & 0xFF);
    ++bins[chRed][r];
    ++bins[chGreen][g];
    ++bins[chBlue][b];
    ++bins[chGray][HistogramIntensity(r, g, b)];
}

#if defined(__SSE2__)
// The intensities of eight pixels at once: the weighted sum plus 50 stays below
// 2^15 in 16-bit lanes, and (s x 5243) >> 19 equals s / 100 for every s up to 25600.
inline void Intensities8(const TColor32* pixels, std::uint16_t* out) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 4));
    const __m128i mask = _mm_set1_epi32(0xFF);
    const auto channel = [&](int shift) {
        return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(lo, shift), mask),
                               _mm_and_si128(_mm_srli_epi32(hi, shift), mask));
    };
    const __m128i sum = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(channel(16), _mm_set1_epi16(30)),
                      _mm_mullo_epi16(channel(8), _mm_set1_epi16(59))),
        _mm_add_epi16(_mm_mullo_epi16(channel(0), _mm_set1_epi16(11)), _mm_set1_epi16(50)));
    const __m128i quotient = _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(5243)), 3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), quotient);
}
#endif

// Counts rows [first, last) into `tally`; false when a stop was requested (looked
// at before each row: a row takes microseconds, a check per pixel would cost more
// than the count of that pixel).
bool CountRows(const THistogramPixels& pixels, int first, int last, const std::atomic<bool>& stop,
               TTally& tally) {
    const int w = pixels.Width();
    for (int y = first; y < last; ++y) {
        if (stop.load(std::memory_order_relaxed)) return false;
        const TColor32* row = pixels.Bits() + std::size_t(y) * std::size_t(w);
        int x = 0;
#if defined(__SSE2__)
        for (; x + 7 < w; x += 8) {
            std::uint16_t gray[8];
            Intensities8(row + x, gray);
            for (int i = 0; i < 8; ++i) {
                std::uint32_t(&bins)[chCount][256] = tally.Bins[i & 1];
                const TColor32 c = row[x + i];
                ++bins[chRed][(c >> 16) & 0xFF];
                ++bins[chGreen][(c >> 8) & 0xFF];
                ++bins[chBlue][c & 0xFF];
                ++bins[chGray][gray[i]];
            }
        }
#endif
        for (; x + 1 < w; x += 2) {
            Add(tally.Bins[0], row[x]);
            Add(tally.Bins[1], row[x + 1]);
        }
        if (x < w) Add(tally.Bins[0], row[x]);
    }
    return true;
}

bool AtEnd(const THistogramBins& bins, int i) {
    return bins[std::size_t(i)] >= kEndThreshold;
}

TFixedPolygon CurveOf(const THistogramBins& bins) {
    TFixedPolygon curve;
    curve.reserve(bins.size() + 2);
    for (std::size_t i = 0; i < bins.size(); ++i)
        curve.push_back({std::int32_t(i) * kFixedOne, ToFixed(-double(bins[i]))});
    return curve;
}

} // namespace

// ---- Pixels --------------------------------------------------------------------

std::shared_ptr<const THistogramPixels> THistogramPixels::Capture(const TBitmap32* bitmap) {
    if (bitmap == nullptr || bitmap->Empty() || bitmap->Bits() == nullptr) return nullptr;
    std::shared_ptr<THistogramPixels> copy(new THistogramPixels);
    copy->m_copy.SetSize(bitmap->Width(), bitmap->Height());
    std::memcpy(copy->m_copy.Bits(), bitmap->Bits(),
                std::size_t(bitmap->Width()) * std::size_t(bitmap->Height()) * sizeof(TColor32));
    return copy;
}

// ---- Count ---------------------------------------------------------------------

TAnalyzeHystrogramThread::TAnalyzeHystrogramThread(const TBitmap32* bitmap)
    : m_pixels(THistogramPixels::Capture(bitmap)) {}

TAnalyzeHystrogramThread::TAnalyzeHystrogramThread(std::shared_ptr<const THistogramPixels> pixels)
    : m_pixels(std::move(pixels)) {}

TAnalyzeHystrogramThread::~TAnalyzeHystrogramThread() {
    Stop();
    if (m_thread.joinable()) m_thread.join();
}

void TAnalyzeHystrogramThread::Start(TDeliveryGuard::Token token, std::function<void()> onDone) {
    if (m_thread.joinable()) return;
    auto run = [this, token = std::move(token), onDone = std::move(onDone)]() mutable {
        try {
            Execute();
        } catch (...) {
            // A failed count shows nothing rather than half a histogram.
            Clear();
            Advice = 0;
        }
        PostToGuiThread(std::move(token), std::move(onDone));
    };
    try {
        m_thread = std::thread([this, run]() mutable {
            m_lowPriority = true;
            SetCurrentThreadPriority(TThreadPriority::tpLowest);
            run();
        });
    } catch (const std::system_error&) {
        // No thread to be had: count here rather than never.
        run();
    }
}

void TAnalyzeHystrogramThread::Execute() {
    Advice = 0;
    if (!m_pixels) {
        // Nothing to count: the worker ends as a stopped one.
        Stop();
        return;
    }
    Clear();
    if (!CountPixels()) {
        Clear();
        return;
    }
    const std::uint8_t verdict = Judge();
    if (verdict == 0) {
        Clear();
        return;
    }
    Advice = verdict;
}

void TAnalyzeHystrogramThread::Clear() {
    Red.fill(0.0f);
    Green.fill(0.0f);
    Blue.fill(0.0f);
    Gray.fill(0.0f);
}

bool TAnalyzeHystrogramThread::CountPixels() {
    const THistogramPixels& pixels = *m_pixels;
    const std::size_t count = std::size_t(pixels.Width()) * std::size_t(pixels.Height());
    // The two halves of the picture are counted on both cores, each into its own
    // tables, merged below. The second half's thread gets the worker's priority.
    auto tallies = std::make_unique<TTally[]>(2);
    const bool lowPriority = m_lowPriority;
    bool stopped = false;
    std::atomic<bool> secondStopped{false};
    SplitWork(pixels.Height(), count >= kPixelsWorthAThread, [&](int first, int last) {
        if (first == 0) {
            stopped = !CountRows(pixels, first, last, m_stop, tallies[0]);
        } else {
            if (lowPriority) SetCurrentThreadPriority(TThreadPriority::tpLowest);
            if (!CountRows(pixels, first, last, m_stop, tallies[1])) secondStopped = true;
        }
    });
    if (stopped || secondStopped || Stopped()) return false;

    // Every pixel adds inc = 6000 / (width x height), a 32-bit float, to one bin per
    // channel. A bin that got n pixels is n x inc, taken here in one rounding from
    // the exact integer count. Adding inc pixel by pixel in single precision gives
    // the same value up to the rounding of those additions, which only grows with n
    // (beyond some 2^24 additions a float sum stops growing at all), so the bins and
    // their sum of 6000 per channel are at least as exact as the pixel-by-pixel sum.
    const float inc = float(6000.0 / double(count));
    THistogramBins* channels[chCount] = {&Red, &Green, &Blue, &Gray};
    for (int ch = 0; ch < chCount; ++ch) {
        for (std::size_t v = 0; v < 256; ++v) {
            std::uint64_t n = 0;
            for (int half = 0; half < 2; ++half)
                for (int table = 0; table < 2; ++table) n += tallies[half].Bins[table][ch][v];
            (*channels[ch])[v] = float(double(n) * double(inc));
        }
    }
    return true;
}

std::uint8_t TAnalyzeHystrogramThread::Judge() {
    // Contrast: the intensities must reach both ends at the same distance i.
    std::uint8_t contrast = kContrastAdvice;
    for (int i = 0; i <= 5; ++i) {
        if (AtEnd(Gray, i) && AtEnd(Gray, 255 - i)) {
            contrast = 0;
            break;
        }
        if (Stopped()) return 0;
    }
    // Colour: some channel must reach the low end and some channel the high end.
    std::uint8_t colour = kColorAdvice;
    for (int i = 0; i <= 5; ++i) {
        if (Stopped()) return 0;
        const int j = 255 - i;
        if ((AtEnd(Green, i) || AtEnd(Red, i) || AtEnd(Blue, i)) &&
            (AtEnd(Green, j) || AtEnd(Red, j) || AtEnd(Blue, j))) {
            colour = 0;
            break;
        }
    }
    const std::uint8_t verdict = contrast | colour;
    return verdict == 0 ? kNoAdvice : verdict;
}

// ---- Panel ---------------------------------------------------------------------

TVekHistogramLayer::TVekHistogramLayer(TLayerCollection& collection)
    : TVekCustomControlLayer(collection) {
    Caption = QStringLiteral("Histogram");
}

TVekHistogramLayer::~TVekHistogramLayer() {
    // No completion reaches this panel any more; the worker ends within a row.
    m_guard.Revoke();
    if (m_running) m_running->Stop();
    m_running.reset();
}

void TVekHistogramLayer::Analyze(const TBitmap32* bitmap) {
    ClearCurves();
    std::shared_ptr<const THistogramPixels> pixels;
    try {
        pixels = THistogramPixels::Capture(bitmap);
    } catch (const std::bad_alloc&) {
        // Too large to copy: treated like no picture.
    }
    if (m_running) {
        // Only the newest request survives; it starts once the running count ended.
        m_restartPending = true;
        m_pending = std::move(pixels);
        m_running->Stop();
        return;
    }
    m_preparing = true;
    Changed(ClientRect());
    m_restartPending = false;
    StartWorker(std::move(pixels));
}

void TVekHistogramLayer::StartWorker(std::shared_ptr<const THistogramPixels> pixels) {
    auto worker = std::make_unique<TAnalyzeHystrogramThread>(std::move(pixels));
    TAnalyzeHystrogramThread* started = worker.get();
    m_running = std::move(worker);
    started->Start(m_guard.GetToken(), [this, started] { WorkerDone(started); });
}

void TVekHistogramLayer::WorkerDone(const TAnalyzeHystrogramThread* worker) {
    if (worker != m_running.get()) return;
    if (worker->Stopped() && m_restartPending) {
        m_restartPending = false;
        // Replacing the stopped worker waits for its thread, which has already ended
        // its count and only returns.
        StartWorker(std::move(m_pending));
        m_preparing = true;
        return;
    }
    if (!worker->Stopped()) {
        m_red = CurveOf(worker->Red);
        m_green = CurveOf(worker->Green);
        m_blue = CurveOf(worker->Blue);
        m_gray = CurveOf(worker->Gray);
        m_advice = worker->Advice;
        m_preparing = false;
        Changed(ClientRect());
    }
    m_running.reset();
}

void TVekHistogramLayer::ClearCurves() {
    m_green.clear();
    m_red.clear();
    m_blue.clear();
    m_gray.clear();
}

void TVekHistogramLayer::SetFlag(bool& flag, bool value) {
    if (flag == value) return;
    flag = value;
    Changed(ClientRect());
}

void TVekHistogramLayer::SetShowRed(bool value) {
    SetFlag(m_showRed, value);
}

void TVekHistogramLayer::SetShowGreen(bool value) {
    SetFlag(m_showGreen, value);
}

void TVekHistogramLayer::SetShowBlue(bool value) {
    SetFlag(m_showBlue, value);
}

void TVekHistogramLayer::SetShowGray(bool value) {
    SetFlag(m_showGray, value);
}

QString TVekHistogramLayer::AdviceText(std::uint8_t advice) {
    switch (advice) {
    case TAnalyzeHystrogramThread::kContrastAdvice:
        return QStringLiteral("Contrast correction recommended");
    case TAnalyzeHystrogramThread::kColorAdvice:
        return QStringLiteral("Color correction recommended");
    case TAnalyzeHystrogramThread::kContrastAdvice | TAnalyzeHystrogramThread::kColorAdvice:
        return QStringLiteral("Contrast and color corrections recommended");
    case TAnalyzeHystrogramThread::kNoAdvice:
        return QStringLiteral("No correction required");
    default:
        return {};
    }
}

void TVekHistogramLayer::SaveSettings(TRegRoot root, const QString& keyPath) {
    TVekCustomControlLayer::SaveSettings(root, keyPath);
    TRegistry reg(root);
    if (!reg.OpenKey(keyPath, true)) return;
    reg.WriteBool(layout::kPanelShowRed, m_showRed);
    reg.WriteBool(layout::kPanelShowGreen, m_showGreen);
    reg.WriteBool(layout::kPanelShowBlue, m_showBlue);
    reg.WriteBool(layout::kPanelShowGray, m_showGray);
    reg.WriteBool(layout::kPanelShowComment, ShowAdvice);
    reg.CloseKey();
}

void TVekHistogramLayer::LoadSettings(TRegRoot root, const QString& keyPath) {
    {
        TRegistry reg(root);
        if (reg.OpenKey(keyPath, true)) {
            const auto read = [&](const char* name, bool& flag) {
                if (const std::optional<bool> v = reg.ReadBool(name)) flag = *v;
            };
            read(layout::kPanelShowRed, m_showRed);
            read(layout::kPanelShowBlue, m_showBlue);
            read(layout::kPanelShowGreen, m_showGreen);
            read(layout::kPanelShowGray, m_showGray);
            read(layout::kPanelShowComment, ShowAdvice);
        }
    }
    // Repaints the panel with the flags just read.
    TVekCustomControlLayer::LoadSettings(root, keyPath);
}

void TVekHistogramLayer::PaintContent(TBitmap32& buffer, const TPanelLocation& client) {
    const TLayerCanvas canvas(buffer, DeviceRatio());
    QFont font = LayerFont(8);
    font.setUnderline(true);
    const TPanelLocation& f = client;

    if (m_preparing) {
        const QString text = QStringLiteral("Preparing histogram...");
        const QSize size = TextSize(font, text);
        const int x = RoundToInt(f.Left + (f.Right - f.Left) / 2.0 - size.width() / 2.0);
        const int y = RoundToInt(f.Top + (f.Bottom - f.Top) / 2.0 - size.height() / 2.0);
        canvas.Text(x, y, text, font, 0xAA000000u, 2);
        return;
    }
    if (m_red.empty() || m_green.empty() || m_blue.empty() || m_gray.empty()) return;
    if (!m_showRed && !m_showGreen && !m_showBlue && !m_showGray) return;

    const TRect savedClip = buffer.ClipRect();
    buffer.SetClipRect(Intersect(savedClip, NearestRect(canvas.Map(f))));
    const TRect clientClip = buffer.ClipRect();

    const bool advice = ShowAdvice && m_advice != 0;
    TRect plot = OutsideRect(f);
    plot = {plot.Left + 6, plot.Top + 6, plot.Right - 6, plot.Bottom - 6};
    if (advice) plot.Bottom -= std::abs(FontHeight(font)) + 2;
    // The curves are drawn on the device grid.
    const TRect devicePlot = canvas.Map(plot);
    buffer.SetClipRect(Intersect(clientClip, devicePlot));

    // One scale for both axes: a bin of value v rises v x s pixels above the
    // bottom, whatever the plot's height; what rises higher is clipped.
    const double s = double(devicePlot.Right - devicePlot.Left) / 255.0;
    struct TChannelPaint {
        bool Shown;
        const TFixedPolygon* Curve;
        TColor32 Outline;
        TColor32 Fill;
    };
    const TChannelPaint channels[] = {
        {m_showGray, &m_gray, 0xB4000000u, 0x64000000u},
        {m_showRed, &m_red, 0xB4FF0000u, 0x55FF0000u},
        {m_showGreen, &m_green, 0xB4007F00u, 0x55007F00u},
        {m_showBlue, &m_blue, 0xB40000FFu, 0x550000FFu},
    };
    if (!buffer.ClipRect().IsEmpty()) {
        for (const TChannelPaint& channel : channels) {
            if (!channel.Shown) continue;
            TFixedPolygon polygon = *channel.Curve;
            polygon.push_back({255 * kFixedOne, 0});
            polygon.push_back({0, 0});
            const TFixedPolygon placed =
                ScaledPolygon(polygon, s, s, devicePlot.Left, devicePlot.Bottom);
            PolygonFS(buffer, placed, channel.Fill, TPolyFillMode::pfAlternate);
            PolylineFS(buffer, placed, channel.Outline, true, canvas.Scale(1));
        }
    }

    buffer.SetClipRect(clientClip);
    const TRect frame{plot.Left - 1, plot.Top - 1, plot.Right + 1, plot.Bottom + 1};
    canvas.FrameRect(frame, WithAlpha(FillColor, 0x32));
    if (advice)
        canvas.Text(frame.Left, frame.Bottom + 1, AdviceText(m_advice), font,
                    SystemColor(TSystemColor::scWindowText), 0);
    buffer.SetClipRect(savedClip);
}
