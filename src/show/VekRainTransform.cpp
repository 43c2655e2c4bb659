#include "show/VekRainTransform.h"

#include "app/VekRandom.h"
#include "gfx/BlendOps.h"
#include "show/TransformHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A column's drop reaches up to this many logical pixels below the base line.
constexpr int kDropLength = 50;

} // namespace

TVekRainTransform::TVekRainTransform() {
    StepCount = 26;
    Name = QStringLiteral("Rain");
}

void TVekRainTransform::DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                                 TBitmap32& output) {
    TCustomVekTransformer::DrawStep(oldPicture, newPicture, step, output);
    if (!OwnStep(step) || StepCount < 3) return;

    const TBandArea bands = PrepareBands(oldPicture, newPicture, output, 0);
    const TOffset o = bands.Old, n = bands.New;
    const TRect u = bands.Union, clip = bands.Clip;

    const int d = (u.Bottom - u.Top) / (StepCount - 2) + 1;
    const int baseLine = (step - 1) * d + u.Top;
    const int bandEnd = step * d + u.Top;

    // One drop length per column of the union (its right edge included), drawn in
    // column order whether or not the column is visible, so that the sequence of
    // random numbers does not depend on the output's size.
    const int dropLength = std::max(1, int(std::lround(kDropLength * PixelRatio)));
    std::vector<int> drop(std::size_t(std::max(0, u.Right - u.Left + 1)));
    for (int& k : drop) k = dropLength - Random(dropLength);
    if (clip.IsEmpty()) return;

    const int x0 = clip.Left, x1 = clip.Right, width = x1 - x0;
    std::vector<TColor32> newBuffer(width), aboveBuffer(width), hereBuffer(width);

    if (step >= 2) {
        // The band the front passed last step: the new picture.
        for (int y = std::max((step - 2) * d + u.Top, clip.Top); y <= baseLine && y < clip.Bottom;
             ++y) {
            const TColor32* src = SampleRow(newPicture, n.X, n.Y, y, x0, x1, newBuffer.data());
            std::memcpy(output.ScanLine(y) + x0, src, std::size_t(width) * sizeof(TColor32));
        }
    }

    std::vector<int> weights(std::size_t(d) + 1);
    for (int v = 0; v <= d; ++v)
        weights[v] = std::clamp(255 - int(RoundHalfEven(std::int64_t(v) * 255, d)), 0, 255);

    // Columns are independent, so the drops and smears are drawn row by row; within
    // a pixel the drop still comes before the smear that blends over it.
    const int yEnd = std::min(bandEnd + dropLength, clip.Bottom - 1);
    for (int y = std::max(baseLine, clip.Top); y <= yEnd; ++y) {
        TColor32* dst = output.ScanLine(y);
        const TColor32* fresh = SampleRow(newPicture, n.X, n.Y, y, x0, x1, newBuffer.data());
        const TColor32* above = SampleRow(oldPicture, o.X, o.Y, y - d, x0, x1, aboveBuffer.data());
        const TColor32* here = SampleRow(oldPicture, o.X, o.Y, y, x0, x1, hereBuffer.data());
        for (int i = 0; i < width; ++i) {
            const int x = x0 + i;
            const int k = drop[std::size_t(x - u.Left)];
            if (y <= baseLine + k) dst[x] = fresh[i];
            if (y >= baseLine + k && y <= bandEnd + k) {
                const TColor32 c = BlendEx(above[i], here[i], weights[y - baseLine - k]);
                dst[x] = BlendOver(c, dst[x]);
            }
        }
    }
    output.Changed();
}
