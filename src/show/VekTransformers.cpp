#include "show/VekTransformers.h"

TVekNoTransform::TVekNoTransform() {
    StepCount = 2;
    Name = QStringLiteral("No effect");
}

TVekRandomPixelTransform::TVekRandomPixelTransform() {
    StepCount = 26;
    Name = QStringLiteral("Random Pixel");
}
