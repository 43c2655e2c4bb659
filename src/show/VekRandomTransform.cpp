#include "show/VekRandomTransform.h"

#include "app/VekRandom.h"
#include "show/VekBlendTransform.h"
#include "show/VekRainTransform.h"
#include "show/VekSlideTransform.h"
#include "show/VekStripeShowTransform.h"

TVekRandomTransform::TVekRandomTransform() {
    StepCount = 26;
    Name = QStringLiteral("Random");
    PickRandomEffect();
}

TVekRandomTransform::~TVekRandomTransform() = default;

void TVekRandomTransform::PickRandomEffect() {
    Current.reset();
    switch (Random(4)) {
    case 0:
        Current = std::make_unique<TVekBlendTransform>();
        break;
    case 1:
        Current = std::make_unique<TVekSlideTransform>();
        break;
    case 2:
        Current = std::make_unique<TVekStripeShowTransform>();
        break;
    default:
        Current = std::make_unique<TVekRainTransform>();
        break;
    }
}

void TVekRandomTransform::Prepare(TBitmap32&, TBitmap32&, TBitmap32&) {
    PickRandomEffect();
}

void TVekRandomTransform::DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                                   TBitmap32& output) {
    TCustomVekTransformer::DrawStep(oldPicture, newPicture, step, output);
    Current->PixelRatio = PixelRatio;
    Current->DrawStep(oldPicture, newPicture, step, output);
}
