#include "viewer/GalleryGrid.h"

#include <algorithm>

void TGalleryGrid::SetCount(int count) {
    m_count = std::max(count, 0);
    if (m_count == 0)
        m_selected = -1;
    else
        m_selected = std::clamp(m_selected, 0, m_count - 1);
    ClampScroll();
}

void TGalleryGrid::SetViewport(int width, int height) {
    m_width = std::max(width, 0);
    m_height = std::max(height, 0);
    ClampScroll();
}

void TGalleryGrid::SetSide(int side) {
    m_side = std::clamp(side, kMinSide, kMaxSide);
    ClampScroll();
    if (m_selected >= 0) ScrollIntoView(m_selected);
}

void TGalleryGrid::SetNameHeight(int height) {
    m_nameHeight = std::max(height, 0);
    ClampScroll();
}

void TGalleryGrid::SetScroll(int top) {
    m_scroll = top;
    ClampScroll();
}

int TGalleryGrid::Columns() const {
    return std::max(1, (m_width - kGap) / (m_side + kGap));
}

int TGalleryGrid::Rows() const {
    return (m_count + Columns() - 1) / Columns();
}

int TGalleryGrid::MaxScroll() const {
    return std::max(0, kGap + Rows() * Pitch() - m_height);
}

int TGalleryGrid::RowsPerPage() const {
    return std::max(1, m_height / Pitch());
}

QRect TGalleryGrid::CellRect(int index) const {
    const int columns = Columns();
    // The columns centred in the width.
    const int used = columns * (m_side + kGap) - kGap;
    const int left = std::max(kGap, (m_width - used) / 2);
    return {left + (index % columns) * (m_side + kGap),
            kGap + (index / columns) * Pitch() - m_scroll, m_side, m_side + m_nameHeight};
}

QRect TGalleryGrid::PictureRect(int index) const {
    const QRect cell = CellRect(index);
    return {cell.left(), cell.top(), m_side, m_side};
}

QRect TGalleryGrid::NameRect(int index) const {
    const QRect cell = CellRect(index);
    return {cell.left(), cell.top() + m_side, m_side, m_nameHeight};
}

int TGalleryGrid::CellAt(int x, int y) const {
    if (m_count == 0) return -1;
    const int columns = Columns();
    const QRect first = CellRect(0);
    const int column = (x - first.left()) / (m_side + kGap);
    const int row = (y + m_scroll - kGap) / Pitch();
    if (x < first.left() || y + m_scroll < kGap || column >= columns) return -1;
    const int index = row * columns + column;
    return index < m_count && CellRect(index).contains(x, y) ? index : -1;
}

std::pair<int, int> TGalleryGrid::VisibleRange(int extraRows) const {
    if (m_count == 0) return {0, 0};
    const int columns = Columns();
    const int firstRow = std::max(0, (m_scroll - kGap) / Pitch() - extraRows);
    const int lastRow = (m_scroll + m_height - kGap) / Pitch() + extraRows;
    return {std::min(firstRow * columns, m_count), std::min((lastRow + 1) * columns, m_count)};
}

void TGalleryGrid::Select(int index) {
    if (m_count == 0) return;
    m_selected = std::clamp(index, 0, m_count - 1);
    ScrollIntoView(m_selected);
}

void TGalleryGrid::Move(TMove move) {
    if (m_count == 0) return;
    const int columns = Columns();
    const int page = RowsPerPage() * columns;
    const int at = std::max(m_selected, 0);
    switch (move) {
    case TMove::Left:
        return Select(at - 1);
    case TMove::Right:
        return Select(at + 1);
    case TMove::Up:
        return Select(at >= columns ? at - columns : at);
    case TMove::Down:
        // The last row may be short: down from above it goes to its last cell.
        return Select(at + columns < m_count                   ? at + columns
                      : at / columns < (m_count - 1) / columns ? m_count - 1
                                                               : at);
    case TMove::PageUp:
        return Select(at - page);
    case TMove::PageDown:
        return Select(at + page);
    case TMove::Home:
        return Select(0);
    case TMove::End:
        return Select(m_count - 1);
    }
}

void TGalleryGrid::ClampScroll() {
    m_scroll = std::clamp(m_scroll, 0, MaxScroll());
}

void TGalleryGrid::ScrollIntoView(int index) {
    QRect cell = CellRect(index);
    if (cell.bottom() + 1 + kGap > m_height) {
        m_scroll += cell.bottom() + 1 + kGap - m_height;
        cell = CellRect(index);
    }
    // A cell taller than the view shows its top.
    if (cell.top() < kGap) m_scroll += cell.top() - kGap;
    ClampScroll();
}
