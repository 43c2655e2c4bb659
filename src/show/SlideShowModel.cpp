#include "show/SlideShowModel.h"

#include "app/VekRandom.h"
#include "gfx/BitmapOps.h"
#include "gfx/BitmapText.h"
#include "gfx/Resampler.h"

#include <QFont>

#include <algorithm>
#include <cmath>
#include <utility>

void TSlideShowModel::AdvanceIndex() {
    ++ImageIndex;
    if (ImageIndex >= ImageCount) ImageIndex = 0;
}

void TSlideShowModel::Begin(int imageCount, bool fadeIn) {
    ImageCount = imageCount;
    if (!IndexInside()) ImageIndex = 0;
    PendingStep = 0;
    FadingIn = false;
    m_port.StartAnimation();
    m_port.LoadImage(ImageIndex);
    // What the next picture holds already fades in while the first file loads. With
    // nothing to fade in, no transition runs: its end would turn the first picture's load
    // into a preload of the one after it.
    m_port.SetEffectRunning(fadeIn);
    Playing = true;
}

void TSlideShowModel::BeginWithPicture(int imageCount) {
    ImageCount = imageCount;
    if (!IndexInside()) ImageIndex = 0;
    PendingStep = 0;
    Step = 0;
    DelayElapsed = false;
    NextLoaded = true;
    Preloading = true;
    FadingIn = true;
    Playing = true;
    m_port.SetEffectRunning(true);
}

void TSlideShowModel::PictureArrived() {
    NextLoaded = true;
    if (DelayElapsed) {
        m_port.StopAnimation();
        m_port.TakeOverPages();
        m_port.SetEffectRunning(true);
    }
    if (Preloading) return;
    // Shown at once.
    Step = 0;
    const int pending = std::exchange(PendingStep, 0);
    // A step that waited for this picture goes on from it without a delay.
    m_port.SetDelayRunning(Playing && pending == 0);
    DelayElapsed = false;
    m_port.SetEffectRunning(false);
    m_port.CurrentFromNext();
    m_port.DrawStep(0);
    Preloading = true;
    m_port.StopAnimation();
    m_port.TakeOverPages();
    if (pending != 0) {
        LoadForShow(pending);
        return;
    }
    AdvanceIndex();
    if (IndexInside()) m_port.LoadImage(ImageIndex);
}

void TSlideShowModel::DelayTick() {
    m_port.SetDelayRunning(false);
    DelayElapsed = true;
    if (!NextLoaded) return; // the transition starts when the picture arrives
    m_port.StopAnimation();
    m_port.TakeOverPages();
    m_port.SetEffectRunning(true);
}

void TSlideShowModel::EffectTick(int stepCount) {
    if (Step <= stepCount) {
        m_port.DrawStep(Step);
        ++Step;
        return;
    }
    // The transition is over.
    Step = 0;
    FadingIn = false;
    m_port.SetDelayRunning(Playing);
    DelayElapsed = false;
    m_port.SetEffectRunning(false);
    m_port.StartAnimation();
    AdvanceIndex();
    if (!IndexInside()) return;
    m_port.CurrentFromNext();
    Preloading = true;
    m_port.LoadImage(ImageIndex);
}

void TSlideShowModel::StepBy(int delta) {
    if (ImageCount <= 0) return;
    Stop();
    Step = 0;
    DelayElapsed = false;
    if (std::exchange(FadingIn, false)) {
        // The picture fading in is the one on screen: it shows whole, and the step goes
        // on from it.
        Preloading = false;
        PendingStep = delta;
        PictureArrived();
        return;
    }
    if (!Preloading) {
        // The picture asked for is not on screen yet: the step waits for it.
        if (PendingStep == 0)
            PendingStep = delta;
        else if (PendingStep != delta)
            PendingStep = 0; // there and back: stay
        return;
    }
    // ImageIndex is the picture after the one on screen, loading or loaded.
    if (delta > 0) {
        Preloading = false;
        // Already here: shown now; still loading: shown as soon as it arrives.
        if (NextLoaded) PictureArrived();
        return;
    }
    LoadForShow(-2);
}

void TSlideShowModel::LoadForShow(int delta) {
    ImageIndex = ((ImageIndex + delta) % ImageCount + ImageCount) % ImageCount;
    Preloading = false;
    m_port.LoadImage(ImageIndex);
}

void TSlideShowModel::ShowAgain() {
    if (ImageCount <= 0) return;
    const int shown = ShownIndex();
    Stop();
    Step = 0;
    DelayElapsed = false;
    FadingIn = false;
    ImageIndex = shown;
    Preloading = false;
    m_port.LoadImage(ImageIndex);
}

void TSlideShowModel::SetPlaying(bool playing) {
    Playing = playing;
    m_port.SetDelayRunning(playing);
}

void TSlideShowModel::Stop() {
    m_port.SetDelayRunning(false);
    m_port.SetEffectRunning(false);
}

int TSlideShowModel::ShownIndex() const {
    if (ImageCount <= 0) return -1;
    const int index = std::clamp(ImageIndex, 0, ImageCount - 1);
    // A picture loading to be shown at once is the one the user asked for; a preload
    // (running or done) is the picture after the one on screen.
    if (!Preloading || FadingIn) return index;
    return index == 0 ? ImageCount - 1 : index - 1;
}

// ---- music ------------------------------------------------------------------------

std::vector<int> BuildMusicOrder(int count, bool shuffle) {
    std::vector<int> order;
    if (count <= 0) return order;
    std::vector<int> pool(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) pool[std::size_t(i)] = i;
    if (!shuffle) return pool;
    order.reserve(pool.size());
    while (!pool.empty()) {
        const auto pick = std::size_t(Random(int(pool.size())));
        order.push_back(pool[pick]);
        pool.erase(pool.begin() + std::ptrdiff_t(pick));
    }
    return order;
}

bool TMusicSequence::Start(int count, bool shuffle) {
    m_shuffle = shuffle;
    m_order = BuildMusicOrder(count, shuffle);
    m_position = m_order.empty() ? -1 : 0;
    m_silentInARow = 0;
    return m_position == 0;
}

int TMusicSequence::Current() const {
    return m_position >= 0 && m_position < int(m_order.size()) ? m_order[std::size_t(m_position)]
                                                               : -1;
}

bool TMusicSequence::Advance(bool repeatAll, bool played) {
    if (m_position < 0 || m_order.empty()) return false;
    m_silentInARow = played ? 0 : m_silentInARow + 1;
    const int count = int(m_order.size());
    // Every track in a row failed: trying them again would only fail again.
    if (m_silentInARow >= count) {
        m_position = -1;
        return false;
    }
    if (m_position + 1 < count) {
        ++m_position;
        return true;
    }
    if (!repeatAll) {
        m_position = -1;
        return false;
    }
    m_order = BuildMusicOrder(count, m_shuffle);
    m_position = 0;
    return true;
}

// ---- pictures -----------------------------------------------------------------------

void FitPicture(TBitmap32& source, TBitmap32& target, int boxHeight, int boxWidth, int angle,
                int filterKind) {
    if (angle % 360 != 0) TurnQuarter(source, angle);
    const int width = source.Width();
    const int height = source.Height();
    if (width <= 0 || height <= 0) {
        target.Delete();
        return;
    }
    if (boxWidth >= width && boxHeight >= height) {
        target.Assign(source);
        return;
    }
    const float scale = std::min(float(boxWidth) / float(width), float(boxHeight) / float(height));
    const int fittedWidth = std::max(1, int(std::nearbyint(float(width) * scale)));
    const int fittedHeight = std::max(1, int(std::nearbyint(float(height) * scale)));
    target.SetSize(fittedWidth, fittedHeight);
    target.Clear(clBlack32);
    MakeResampler(filterKind, source);
    const TDrawMode mode = source.DrawMode;
    source.DrawMode = TDrawMode::dmOpaque; // the picture's own pixels, alpha included
    target.Draw(target.BoundsRect(), source.BoundsRect(), source);
    source.DrawMode = mode;
}

void MakeMessagePicture(TBitmap32& target, const char* text, double ratio) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(8 * ratio);
    const QString message = QString::fromUtf8(text);
    const QSize size = TextExtent(font, message);
    target.SetSize(std::max(1, size.width()), std::max(1, size.height()));
    target.Clear(clBlack32);
    TextOut(target, 0, 0, message, font, clWhite32);
}
