#include "loading/PartialLook.h"

#include <algorithm>
#include <cstdint>
#include <vector>

TPartialLook::TPartialLook(int width, int height, int factor)
    : m_width(std::max(width, 0)), m_height(std::max(height, 0)), m_factor(std::max(factor, 1)) {
    m_picture.SetSize((m_width + m_factor - 1) / m_factor, (m_height + m_factor - 1) / m_factor);
}

void TPartialLook::ReduceBand(const TBitmap32& picture, int band) {
    const int top = band * m_factor;
    const int bottom = std::min(top + m_factor, m_height);
    TColor32* out = m_picture.ScanLine(band);
    if (m_factor == 1) {
        std::copy_n(picture.ScanLine(top), m_width, out);
        return;
    }
    const int columns = m_picture.Width();
    std::vector<std::uint32_t> sums(std::size_t(columns) * 4, 0);
    // One row of the band, its middle one, is averaged across: a look at the picture on
    // its way is not worth reading every row twice.
    const int middle = top + (bottom - top) / 2;
    {
        const TColor32* row = picture.ScanLine(middle);
        for (int c = 0; c < columns; ++c) {
            std::uint32_t* sum = sums.data() + std::size_t(c) * 4;
            const int end = std::min((c + 1) * m_factor, m_width);
            for (int x = c * m_factor; x < end; ++x) {
                const TColor32 p = row[x];
                sum[0] += p & 0xFF;
                sum[1] += (p >> 8) & 0xFF;
                sum[2] += (p >> 16) & 0xFF;
                sum[3] += p >> 24;
            }
        }
    }
    for (int c = 0; c < columns; ++c) {
        const std::uint32_t n = std::uint32_t(std::min((c + 1) * m_factor, m_width) - c * m_factor);
        const std::uint32_t* sum = sums.data() + std::size_t(c) * 4;
        const auto avg = [n](std::uint32_t s) { return (s + n / 2) / n; };
        out[c] = avg(sum[0]) | (avg(sum[1]) << 8) | (avg(sum[2]) << 16) | (avg(sum[3]) << 24);
    }
}

void TPartialLook::TakeRows(const TBitmap32& picture, int first, int count) {
    if (picture.Width() != m_width || picture.Height() != m_height || first != m_rowsTaken) return;
    m_rowsTaken = std::min(first + std::max(count, 0), m_height);
    const int bands = m_rowsTaken == m_height ? m_picture.Height() : m_rowsTaken / m_factor;
    for (int band = first / m_factor; band < bands; ++band) ReduceBand(picture, band);
    m_picture.Changed();
}

void TPartialLook::TakeWhole(const TBitmap32& picture) {
    if (picture.Width() != m_width || picture.Height() != m_height) return;
    for (int band = 0; band < m_picture.Height(); ++band) ReduceBand(picture, band);
    m_rowsTaken = m_height;
    m_picture.Changed();
}
