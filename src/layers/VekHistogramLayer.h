#pragma once

#include "app/GuiThread.h"
#include "gfx/Bitmap32.h"
#include "layers/VekCustomLayer.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

// Rounded intensity of a colour, 0.3 R + 0.59 G + 0.11 B, as integer arithmetic on
// the exact weighted sum: 30 R + 59 G + 11 B is exactly 100 times the value, and
// adding 50 before the integer division rounds halves up. Wherever the value is not
// exactly halfway between two integers this equals rounding the floating-point
// sum; exactly halfway (one colour in a hundred) the floating-point sum lands on
// either side of the half, depending on how 0.3, 0.59 and 0.11 are represented, so
// the exact value decides. Always within 0...255.
[[nodiscard]] constexpr int HistogramIntensity(int r, int g, int b) {
    return (30 * r + 59 * g + 11 * b + 50) / 100;
}

// One bin per channel value; each channel of a counted picture sums to 6000.
using THistogramBins = std::array<float, 256>;

// The pixels a count works on: a private copy, so the view may change or free its
// bitmap at any time.
class THistogramPixels {
public:
    // A copy of the bitmap's pixels; null for none or an empty bitmap.
    [[nodiscard]] static std::shared_ptr<const THistogramPixels> Capture(const TBitmap32* bitmap);

    [[nodiscard]] int Width() const { return m_copy.Width(); }
    [[nodiscard]] int Height() const { return m_copy.Height(); }
    [[nodiscard]] const TColor32* Bits() const { return m_copy.Bits(); }

private:
    THistogramPixels() = default;

    // A bitmap's own storage: a large picture lands in huge pages, so taking the
    // copy costs a memcpy rather than tens of thousands of page faults.
    TBitmap32 m_copy;
};

// Counts the red, green, blue and intensity values of a picture and judges whether
// it needs a contrast or colour correction.
//
// Start() counts on a worker thread at the lowest priority and posts `onDone` to the
// GUI thread when the worker has ended, finished or stopped. Stop() asks the worker
// to end: it looks at the request before each row of pixels and between the end
// checks, and a stopped count leaves all four arrays at zero. The destructor stops
// the worker and waits for it, which takes at most one row.
class TAnalyzeHystrogramThread {
public:
    // Verdicts (Advice): 0 not analysed; bit 1 the intensities do not reach both
    // ends; bit 4 the colour channels do not; 2 neither.
    static constexpr std::uint8_t kContrastAdvice = 1;
    static constexpr std::uint8_t kNoAdvice = 2;
    static constexpr std::uint8_t kColorAdvice = 4;

    // Copies the bitmap's pixels (none or empty: there is nothing to count).
    explicit TAnalyzeHystrogramThread(const TBitmap32* bitmap);
    // Counts pixels captured before.
    explicit TAnalyzeHystrogramThread(std::shared_ptr<const THistogramPixels> pixels);
    ~TAnalyzeHystrogramThread();
    TAnalyzeHystrogramThread(const TAnalyzeHystrogramThread&) = delete;
    TAnalyzeHystrogramThread& operator=(const TAnalyzeHystrogramThread&) = delete;

    // Starts the worker once; `onDone` runs on the GUI thread unless the guard behind
    // `token` was revoked first. The arrays and Advice belong to the worker until then.
    void Start(TDeliveryGuard::Token token, std::function<void()> onDone);
    // The count itself on the calling thread (the worker runs it; so can tests).
    void Execute();

    void Stop() { m_stop.store(true, std::memory_order_relaxed); }
    // Asked to stop, or stopped itself because there was no picture.
    [[nodiscard]] bool Stopped() const { return m_stop.load(std::memory_order_relaxed); }

    THistogramBins Red{};
    THistogramBins Green{};
    THistogramBins Blue{};
    THistogramBins Gray{};
    std::uint8_t Advice = 0;

private:
    void Clear();
    bool CountPixels();
    std::uint8_t Judge();

    std::shared_ptr<const THistogramPixels> m_pixels;
    std::atomic<bool> m_stop{false};
    // Set on the worker thread: the second half of the count then runs as low.
    bool m_lowPriority = false;
    std::thread m_thread;
};

// The histogram panel: filled curves of the shown channels over the picture's
// values, with a line of advice below the plot. Counting runs on a worker; while it
// runs the panel says "Preparing histogram...".
class TVekHistogramLayer : public TVekCustomControlLayer {
public:
    explicit TVekHistogramLayer(TLayerCollection& collection);
    ~TVekHistogramLayer() override;

    // Counts the bitmap's pixels (copied now, so the caller may change the bitmap
    // right away); none shows "Preparing histogram..." until the next picture. A
    // call while a count runs stops it and leaves only the newest request pending.
    void Analyze(const TBitmap32* bitmap);

    [[nodiscard]] bool ShowRed() const { return m_showRed; }
    [[nodiscard]] bool ShowGreen() const { return m_showGreen; }
    [[nodiscard]] bool ShowBlue() const { return m_showBlue; }
    [[nodiscard]] bool ShowGray() const { return m_showGray; }
    // Each repaints the client area when the flag changes.
    void SetShowRed(bool value);
    void SetShowGreen(bool value);
    void SetShowBlue(bool value);
    void SetShowGray(bool value);
    // The line of advice under the plot; kept in the settings only.
    bool ShowAdvice = true;

    [[nodiscard]] std::uint8_t Advice() const { return m_advice; }
    [[nodiscard]] bool Preparing() const { return m_preparing; }
    [[nodiscard]] bool RestartPending() const { return m_restartPending; }
    [[nodiscard]] bool Counting() const { return m_running != nullptr; }
    // 256 points (value, -bin) in 16.16 fixed point; empty until a count finished.
    [[nodiscard]] const TFixedPolygon& RedCurve() const { return m_red; }
    [[nodiscard]] const TFixedPolygon& GreenCurve() const { return m_green; }
    [[nodiscard]] const TFixedPolygon& BlueCurve() const { return m_blue; }
    [[nodiscard]] const TFixedPolygon& GrayCurve() const { return m_gray; }

    void SaveSettings(TRegRoot root, const QString& keyPath) override;
    void LoadSettings(TRegRoot root, const QString& keyPath) override;

    // The line under the plot for a verdict; empty for 0.
    [[nodiscard]] static QString AdviceText(std::uint8_t advice);

protected:
    void PaintContent(TBitmap32& buffer, const TPanelLocation& client) override;

private:
    void StartWorker(std::shared_ptr<const THistogramPixels> pixels);
    void WorkerDone(const TAnalyzeHystrogramThread* worker);
    void SetFlag(bool& flag, bool value);
    void ClearCurves();

    std::shared_ptr<const THistogramPixels> m_pending;
    std::unique_ptr<TAnalyzeHystrogramThread> m_running;
    TFixedPolygon m_green;
    TFixedPolygon m_red;
    TFixedPolygon m_blue;
    TFixedPolygon m_gray;
    bool m_showRed = false;
    bool m_showBlue = false;
    bool m_showGreen = false;
    bool m_showGray = true;
    std::uint8_t m_advice = 0;
    bool m_restartPending = false;
    bool m_preparing = false;
    TDeliveryGuard m_guard;
};
