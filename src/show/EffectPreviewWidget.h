#pragma once

#include "app/ThreadedTimer.h"
#include "gfx/Bitmap32.h"
#include "gfx/PaintBox32Widget.h"

#include <QSize>
#include <QStringList>

#include <memory>
#include <vector>

class QComboBox;
class TCustomVekTransformer;

// A small box that plays the chosen transition effect over and over: from a red
// picture to a green one, a one-second rest, then back the other way. It runs
// while it is visible (showing starts it, hiding stops it); its owner may also
// start and stop it, for instance when the page holding it changes.
//
// The pictures are 10 logical pixels smaller than the box each way and are made
// anew when the box changes size. Everything is drawn in device pixels, as the
// slideshow draws, and made anew when the box moves to a screen of another ratio.
class TEffectPreview : public TPaintBox32 {
public:
    explicit TEffectPreview(QWidget* parent = nullptr);
    ~TEffectPreview() override;

    // The names of the offered effects, in the order of their indexes: No effect,
    // Blend, Slide, Diagonal roll, Rain, Random.
    [[nodiscard]] QStringList EffectNames() const;
    // A drop-down list of those names (owned by `parent`) whose choice this box plays.
    [[nodiscard]] QComboBox* MakeEffectComboBox(QWidget* parent);

    // The effect played; -1 (or any index outside the list) plays none. The next
    // transition starts from its first step.
    void SetEffectIndex(int index);
    [[nodiscard]] int EffectIndex() const { return m_effectIndex; }

    // The step the next effect tick draws.
    [[nodiscard]] int Step() const { return m_step; }

    // From the first step: the effect timer runs (the rest, if any, is cut short).
    void Start();
    // Both timers stop.
    void Stop();
    [[nodiscard]] bool EffectRunning() const { return m_effectTimer.Enabled(); }
    [[nodiscard]] bool DelayRunning() const { return m_delayTimer.Enabled(); }

    // The effect timer's tick: draws the current step and moves on; after the last
    // step the pictures change places and the rest begins. Without an effect it
    // only switches to the rest.
    void EffectTimerTimer();
    // The rest's tick: the next transition begins.
    void DelayTimerTimer();

    // What the box shows, in device pixels.
    [[nodiscard]] const TBitmap32& Output() const { return Buffer(); }
    // The picture the next transition leaves, and the one it arrives at.
    [[nodiscard]] const TBitmap32& PictureA() const { return m_pictureA; }
    [[nodiscard]] const TBitmap32& PictureB() const { return m_pictureB; }

    static constexpr TColor32 kColourA = 0xFFFF0000;
    static constexpr TColor32 kColourB = 0xFF007F00;
    static constexpr int kMargin = 10; // logical pixels

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Makes the pictures and the output fit the box when its size or ratio has changed.
    void FitBuffers();

    TBitmap32 m_pictureA;
    TBitmap32 m_pictureB;
    // The output's size and the margin the pictures were made for.
    QSize m_madeFor{-1, -1};
    int m_madeMargin = 0;
    int m_step = 0;
    int m_effectIndex = -1;
    std::vector<std::unique_ptr<TCustomVekTransformer>> m_effects;
    // Last: the timers go first, so no tick meets a half-destroyed preview.
    TThreadedTimer m_delayTimer;
    TThreadedTimer m_effectTimer;
};
