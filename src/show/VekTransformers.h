#pragma once

#include "show/CustomVekTransformer.h"

// The two effects that are nothing but the base step.

// Old picture at step 0, nothing at step 1, the new picture at step 2.
class TVekNoTransform : public TCustomVekTransformer {
public:
    TVekNoTransform();
};

// The old picture stays until the last step, which shows the new one. It draws
// no frames in between (it is not offered in the effect pickers).
class TVekRandomPixelTransform : public TCustomVekTransformer {
public:
    TVekRandomPixelTransform();
};
