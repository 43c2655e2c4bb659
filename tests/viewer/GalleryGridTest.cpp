// The grid's geometry and how keys move its selection.
#include "viewer/GalleryGrid.h"

#include <gtest/gtest.h>

namespace {

using enum TGalleryGrid::TMove;

// 10 cells of 128 in a viewport holding 4 columns and about two rows.
TGalleryGrid Grid(int count = 10) {
    TGalleryGrid grid;
    grid.SetSide(128);
    grid.SetNameHeight(16);
    grid.SetViewport(4 * (128 + TGalleryGrid::kGap) + TGalleryGrid::kGap, 330);
    grid.SetCount(count);
    return grid;
}

struct TMoveCase {
    int From;
    TGalleryGrid::TMove Move;
    int To;
};

class GalleryGridMoves : public ::testing::TestWithParam<TMoveCase> {};

TEST_P(GalleryGridMoves, SelectionMovesAsInAFileManagersGrid) {
    TGalleryGrid grid = Grid();
    ASSERT_EQ(grid.Columns(), 4);
    grid.Select(GetParam().From);
    grid.Move(GetParam().Move);
    EXPECT_EQ(grid.Selected(), GetParam().To);
    // Whatever is selected is in view.
    const QRect cell = grid.CellRect(grid.Selected());
    EXPECT_GE(cell.top(), 0);
    EXPECT_LE(cell.bottom(), 330);
}

INSTANTIATE_TEST_SUITE_P(Keys, GalleryGridMoves,
                         ::testing::Values(TMoveCase{3, Right, 4}, // on to the next row
                                           TMoveCase{4, Left, 3},  // back to the row above
                                           TMoveCase{0, Left, 0},  // nothing before the first
                                           TMoveCase{9, Right, 9}, // nothing after the last
                                           TMoveCase{1, Up, 1},    // the top row stays
                                           TMoveCase{5, Up, 1},    // straight up
                                           TMoveCase{2, Down, 6},  // straight down
                                           TMoveCase{6, Down,
                                                     9}, // the short last row: its last cell
                                           TMoveCase{9, Down, 9}, // the last row stays
                                           TMoveCase{0, PageDown, 8}, TMoveCase{9, PageUp, 1},
                                           TMoveCase{6, Home, 0}, TMoveCase{2, End, 9}));

TEST(GalleryGrid, CellsAreFoundWhereTheyAreDrawn) {
    TGalleryGrid grid = Grid(40);
    grid.Select(39); // scrolled to the end
    ASSERT_GT(grid.Scroll(), 0);
    const auto [first, last] = grid.VisibleRange();
    ASSERT_LT(first, last);
    for (int i = first; i < last; ++i) {
        const QRect picture = grid.PictureRect(i);
        if (picture.center().y() < 0 || picture.center().y() >= 330) continue;
        EXPECT_EQ(grid.CellAt(picture.center().x(), picture.center().y()), i);
    }
    // The gaps between cells are no cell.
    const QRect a = grid.CellRect(36);
    EXPECT_EQ(grid.CellAt(a.right() + TGalleryGrid::kGap / 2, a.center().y()), -1);
    // Cells outside the range are not in view.
    ASSERT_GT(first, 0);
    EXPECT_LT(grid.CellRect(first - 1).bottom(), 0);
}

TEST(GalleryGrid, SizeIsClampedAndKeepsTheSelectionInView) {
    TGalleryGrid grid = Grid(40);
    grid.Select(20);
    grid.SetSide(1000);
    EXPECT_EQ(grid.Side(), TGalleryGrid::kMaxSide);
    EXPECT_EQ(grid.Columns(), 1);
    const QRect cell = grid.CellRect(20);
    EXPECT_GE(cell.top(), 0);
    grid.SetSide(10);
    EXPECT_EQ(grid.Side(), TGalleryGrid::kMinSide);
    grid.SetCount(0);
    EXPECT_EQ(grid.Selected(), -1);
    EXPECT_EQ(grid.VisibleRange(), (std::pair<int, int>{0, 0}));
}

} // namespace
