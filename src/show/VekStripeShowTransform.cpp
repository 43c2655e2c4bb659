#include "show/VekStripeShowTransform.h"

#include "gfx/BlendOps.h"
#include "show/TransformHelpers.h"

#include <algorithm>
#include <cstring>
#include <vector>

TVekStripeShowTransform::TVekStripeShowTransform() {
    StepCount = 26;
    Name = QStringLiteral("Diagonal roll");
}

void TVekStripeShowTransform::DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                                       TBitmap32& output) {
    TCustomVekTransformer::DrawStep(oldPicture, newPicture, step, output);
    if (!OwnStep(step) || StepCount < 3) return;

    const TBandArea bands = PrepareBands(oldPicture, newPicture, output, 255);
    const TOffset o = bands.Old, n = bands.New;
    const TRect u = bands.Union, clip = bands.Clip;
    if (clip.IsEmpty()) return;

    // Diagonal s holds the pixels with x + (y - top) = s. Each phase covers a range
    // of diagonals, which on every row is one run of columns.
    const int d = ((u.Right - u.Left) + (u.Bottom - u.Top)) / (StepCount - 2) + 1;
    const int bandStart = (step - 1) * d + u.Left; // the front's upper-left diagonal
    std::vector<int> weights(std::size_t(d) + 1);
    for (int i = 0; i <= d; ++i) weights[i] = 255 - int(RoundHalfEven(std::int64_t(i) * 255, d));

    const int width = clip.Width();
    std::vector<TColor32> fgBuffer(width), bgBuffer(width);
    // Columns of the diagonals [sFrom, sTo] on row y, inside the clip.
    const auto run = [&](int y, int sFrom, int sTo, int& x0, int& x1) {
        const int k = y - u.Top;
        x0 = std::max(sFrom - k, clip.Left);
        x1 = std::min(sTo - k + 1, clip.Right);
        return x0 < x1;
    };

    int x0 = 0, x1 = 0;
    if (step >= 2) {
        // Behind the front: the new picture.
        for (int y = clip.Top; y < clip.Bottom; ++y) {
            if (!run(y, bandStart - d, bandStart, x0, x1)) continue;
            TColor32* dst = output.ScanLine(y) + x0;
            const TColor32* src = SampleRow(newPicture, n.X, n.Y, y, x0, x1, fgBuffer.data());
            std::memcpy(dst, src, std::size_t(x1 - x0) * sizeof(TColor32));
        }
    }
    // The front itself.
    for (int y = clip.Top; y < clip.Bottom; ++y) {
        if (!run(y, bandStart, bandStart + d, x0, x1)) continue;
        TColor32* dst = output.ScanLine(y);
        const TColor32* fg = SampleRow(newPicture, n.X, n.Y, y, x0, x1, fgBuffer.data());
        const TColor32* bg = SampleRow(oldPicture, o.X, o.Y, y, x0, x1, bgBuffer.data());
        const int* weight = weights.data() + (x0 + (y - u.Top) - bandStart);
        for (int i = 0; i < x1 - x0; ++i) dst[x0 + i] = BlendEx(fg[i], bg[i], weight[i]);
    }
    output.Changed();
}
