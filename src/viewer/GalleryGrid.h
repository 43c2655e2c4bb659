#pragma once

#include <QRect>

#include <cstdint>
#include <utility>

// The geometry and the selection of the folder's grid, in logical pixels: cells of
// `Side` x (Side + the name's line) laid out in as many columns as the width holds,
// scrolled vertically. Keys move the selection as a file manager's grid does.
class TGalleryGrid {
public:
    static constexpr int kMinSide = 128, kMaxSide = 512, kSideStep = 32;
    static constexpr int kGap = 12;

    void SetCount(int count);
    void SetViewport(int width, int height);
    // Clamped to kMinSide..kMaxSide; the selection stays in view.
    void SetSide(int side);
    void SetNameHeight(int height);
    void SetScroll(int top);

    [[nodiscard]] int Count() const { return m_count; }
    [[nodiscard]] int Side() const { return m_side; }
    [[nodiscard]] int Columns() const;
    [[nodiscard]] int Rows() const;
    [[nodiscard]] int Scroll() const { return m_scroll; }
    [[nodiscard]] int MaxScroll() const;
    [[nodiscard]] int Selected() const { return m_selected; }
    // The cell's rectangle in the viewport (scroll applied); its picture is the square
    // at the top, the name below it.
    [[nodiscard]] QRect CellRect(int index) const;
    [[nodiscard]] QRect PictureRect(int index) const;
    [[nodiscard]] QRect NameRect(int index) const;
    // The cell under a viewport point, -1 for none.
    [[nodiscard]] int CellAt(int x, int y) const;
    // The first and one past the last cell touching the viewport, with `extraRows` more
    // rows on either side.
    [[nodiscard]] std::pair<int, int> VisibleRange(int extraRows = 0) const;

    // Selects `index` (clamped) and scrolls it into view.
    void Select(int index);
    enum class TMove : std::uint8_t { Left, Right, Up, Down, PageUp, PageDown, Home, End };
    void Move(TMove move);

private:
    [[nodiscard]] int Pitch() const { return m_side + m_nameHeight + kGap; }
    [[nodiscard]] int RowsPerPage() const;
    void ClampScroll();
    void ScrollIntoView(int index);

    int m_count = 0;
    int m_width = 0, m_height = 0;
    int m_side = 192;
    int m_nameHeight = 16;
    int m_scroll = 0;
    int m_selected = -1;
};
