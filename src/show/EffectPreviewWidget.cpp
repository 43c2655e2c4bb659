#include "show/EffectPreviewWidget.h"

#include "show/CustomVekTransformer.h"
#include "show/VekBlendTransform.h"
#include "show/VekRainTransform.h"
#include "show/VekRandomTransform.h"
#include "show/VekSlideTransform.h"
#include "show/VekStripeShowTransform.h"
#include "show/VekTransformers.h"

#include <QComboBox>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int kEffectInterval = 26;  // ms between steps
constexpr int kDelayInterval = 1000; // ms of rest between transitions

} // namespace

TEffectPreview::TEffectPreview(QWidget* parent) : TPaintBox32(parent) {
    OnDeviceRatioChange = [this] { FitBuffers(); };
    m_effects.push_back(std::make_unique<TVekNoTransform>());
    m_effects.push_back(std::make_unique<TVekBlendTransform>());
    m_effects.push_back(std::make_unique<TVekSlideTransform>());
    m_effects.push_back(std::make_unique<TVekStripeShowTransform>());
    m_effects.push_back(std::make_unique<TVekRainTransform>());
    m_effects.push_back(std::make_unique<TVekRandomTransform>());

    m_effectTimer.SetAllowZero(true);
    m_effectTimer.SetInterval(kEffectInterval);
    m_effectTimer.OnTimer = [this](TThreadedTimer&) { EffectTimerTimer(); };
    m_delayTimer.SetInterval(kDelayInterval);
    m_delayTimer.OnTimer = [this](TThreadedTimer&) { DelayTimerTimer(); };

    FitBuffers();
}

TEffectPreview::~TEffectPreview() {
    Stop();
}

QStringList TEffectPreview::EffectNames() const {
    QStringList names;
    for (const auto& effect : m_effects) names << effect->Name;
    return names;
}

QComboBox* TEffectPreview::MakeEffectComboBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->addItems(EffectNames());
    QObject::connect(box, &QComboBox::currentIndexChanged, this,
                     [this](int index) { SetEffectIndex(index); });
    return box;
}

void TEffectPreview::SetEffectIndex(int index) {
    m_effectIndex = index >= 0 && index < int(m_effects.size()) ? index : -1;
    m_step = 0;
}

void TEffectPreview::Start() {
    m_step = 0;
    // A rest still running would start a second transition over this one.
    m_delayTimer.SetEnabled(false);
    m_effectTimer.SetEnabled(true);
}

void TEffectPreview::Stop() {
    m_effectTimer.SetEnabled(false);
    m_delayTimer.SetEnabled(false);
}

void TEffectPreview::EffectTimerTimer() {
    FitBuffers();
    if (m_effectIndex < 0) {
        m_effectTimer.SetEnabled(false);
        m_delayTimer.SetEnabled(true);
        return;
    }
    TCustomVekTransformer& effect = *m_effects[std::size_t(m_effectIndex)];
    effect.PixelRatio = DeviceRatio();
    if (m_step > effect.StepCount) {
        // The transition is over: the next one runs back from where this one ended.
        m_step = 0;
        std::swap(m_pictureA, m_pictureB);
        m_delayTimer.SetEnabled(true);
        m_effectTimer.SetEnabled(false);
        return;
    }
    effect.DrawStep(m_pictureA, m_pictureB, m_step, Buffer());
    update();
    ++m_step;
}

void TEffectPreview::DelayTimerTimer() {
    m_delayTimer.SetEnabled(false);
    m_effectTimer.SetEnabled(true);
}

void TEffectPreview::FitBuffers() {
    FitBuffer();
    const int w = Buffer().Width();
    const int h = Buffer().Height();
    const int margin = int(std::lround(kMargin * DeviceRatio()));
    if (m_madeFor == QSize(w, h) && m_madeMargin == margin) return;
    m_madeFor = {w, h};
    m_madeMargin = margin;

    // Fresh pictures: an effect may have changed their outer colours and clips.
    m_pictureA = TBitmap32(std::max(0, w - margin), std::max(0, h - margin));
    m_pictureA.Clear(kColourA);
    m_pictureB = TBitmap32(std::max(0, w - margin), std::max(0, h - margin));
    m_pictureB.Clear(kColourB);
    TBitmap32& output = Buffer();
    output = TBitmap32(w, h);
    output.Clear(clBlack32);
    output.Draw((w - m_pictureA.Width()) / 2, (h - m_pictureA.Height()) / 2, m_pictureA);
    // The output no longer holds what the running transition drew so far.
    m_step = 0;
    update();
}

void TEffectPreview::resizeEvent(QResizeEvent* event) {
    TPaintBox32::resizeEvent(event);
    FitBuffers();
}

void TEffectPreview::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Start();
}

void TEffectPreview::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    Stop();
}
