#pragma once

#include "show/CustomVekTransformer.h"

#include <QString>

#include <memory>

// A new effect for a stored name, compared without regard to (ASCII) case: "No
// effect", "Blend", "Random Pixel", "Slide", "Diagonal roll", "Rain", "Random" or
// "Wind". Any other text, the empty one included, gives null; callers then use a
// TVekRandomTransform. Every effect's Name maps back to its class.
[[nodiscard]] std::unique_ptr<TCustomVekTransformer> TransformerByName(const QString& name);
