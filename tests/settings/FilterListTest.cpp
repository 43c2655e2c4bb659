#include "settings/FilterListWidget.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QListWidgetItem>
#include <QPalette>

#include <cstdlib>
#include <string>

namespace {

struct TKindCase {
    int Kind;
    int Row;
    int Selected;
};

class FilterListKinds : public testing::TestWithParam<TKindCase> {};

TEST_P(FilterListKinds, SelectLikeTheStore) {
    const TKindCase& c = GetParam();
    TFilterListBox list;
    list.SelectKind(c.Kind);
    EXPECT_EQ(list.currentRow(), c.Row);
    EXPECT_EQ(list.selectedItems().size(), 1);
    EXPECT_EQ(list.SelectedKind(), c.Selected);
    EXPECT_EQ(TFilterListBox::RowOfKind(c.Kind), c.Row);
}

INSTANTIATE_TEST_SUITE_P(FilterListBox, FilterListKinds,
                         testing::Values(TKindCase{0, 0, 0}, TKindCase{1, 0, 0}, TKindCase{2, 1, 2},
                                         TKindCase{3, 1, 2}, TKindCase{4, 2, 4}, TKindCase{5, 1, 2},
                                         TKindCase{-1, 1, 2}, TKindCase{255, 1, 2}),
                         [](const testing::TestParamInfo<TKindCase>& info) {
                             const int k = info.param.Kind;
                             return k < 0 ? std::string("Minus") + std::to_string(-k)
                                          : std::string("Kind") + std::to_string(k);
                         });

TEST(FilterListBox, HasTheThreeFiltersAndReadsLinearWithoutSelection) {
    TFilterListBox list;
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.item(0)->text(), "Fastest (nearest)");
    EXPECT_EQ(list.item(1)->text(), "Normal (linear)");
    EXPECT_EQ(list.item(2)->text(), "Slowest (bicubic)");
    EXPECT_EQ(list.SelectedKind(), 2);
    list.SelectKind(0);
    list.clearSelection();
    EXPECT_EQ(list.SelectedKind(), 2);
    EXPECT_EQ(TFilterListBox::KindOfRow(3), 2);
    EXPECT_EQ(TFilterListBox::KindOfRow(-1), 2);
}

TEST(FilterListBox, UserSelectionIsRead) {
    TFilterListBox list;
    list.setCurrentRow(2);
    EXPECT_EQ(list.SelectedKind(), 4);
    list.setCurrentRow(0);
    EXPECT_EQ(list.SelectedKind(), 0);
}

// ---- drawing ----------------------------------------------------------------------

bool IsGrey(QRgb c) {
    return qRed(c) > 24 && qRed(c) < 231;
}

bool Near(QRgb c, int r, int g, int b, int tolerance = 3) {
    return std::abs(qRed(c) - r) <= tolerance && std::abs(qGreen(c) - g) <= tolerance &&
           std::abs(qBlue(c) - b) <= tolerance;
}

class FilterListDrawing : public testing::Test {
protected:
    void SetUp() override {
        QPalette palette = m_list.palette();
        palette.setColor(QPalette::Highlight, QColor(0, 0, 255));
        m_list.setPalette(palette);
        m_list.resize(260, 3 * m_list.sizeHintForRow(0) + 2 * m_list.frameWidth() + 2);
        m_list.show();
        // The checks below read widget pixels one to one.
        if (m_list.devicePixelRatioF() != 1.0) GTEST_SKIP() << "scaled display";
    }

    QImage Grab() { return m_list.viewport()->grab().toImage(); }
    QRect ItemRect(int row) { return m_list.visualItemRect(m_list.item(row)); }
    QRect Square(int row) {
        const QRect r = ItemRect(row);
        return {r.right() + 1 - r.height(), r.top(), r.height(), r.height()};
    }

    TFilterListBox m_list;
};

TEST_F(FilterListDrawing, ItemsAreTallEnoughToShowTheBoard) {
    for (int row = 0; row < 3; ++row) {
        EXPECT_GE(ItemRect(row).height(), 12) << row;
        EXPECT_EQ(ItemRect(row).height(), m_list.sizeHintForRow(row));
    }
}

TEST_F(FilterListDrawing, NearestShowsHardCellsWithWhiteCornersAndCentre) {
    const QImage image = Grab();
    const QRect s = Square(0);
    const int side = s.width();
    bool sawBlack = false, sawWhite = false;
    for (int y = s.top() + 1; y < s.bottom(); ++y)
        for (int x = s.left() + 1; x < s.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            ASSERT_TRUE(c == qRgb(0, 0, 0) || c == qRgb(255, 255, 255))
                << "at " << x - s.left() << "," << y - s.top() << ": " << std::hex << c;
            sawBlack |= c == qRgb(0, 0, 0);
            sawWhite |= c == qRgb(255, 255, 255);
        }
    EXPECT_TRUE(sawBlack && sawWhite);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            const int x = s.left() + (2 * i + 1) * side / 6;
            const int y = s.top() + (2 * j + 1) * side / 6;
            const QRgb expected = (i + j) % 2 == 0 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
            EXPECT_EQ(image.pixel(x, y), expected) << "cell " << i << "," << j;
        }
}

TEST_F(FilterListDrawing, SmoothFiltersShowGreyTransitions) {
    const QImage image = Grab();
    for (const int row : {1, 2}) {
        const QRect s = Square(row);
        int greys = 0;
        for (int y = s.top() + 1; y < s.bottom(); ++y)
            for (int x = s.left() + 1; x < s.right(); ++x) greys += IsGrey(image.pixel(x, y));
        EXPECT_GT(greys, s.width()) << "row " << row;
        // The centre cell stays light, the edge cells' middles stay dark.
        EXPECT_GT(qRed(image.pixel(s.center())), 200) << "row " << row;
    }
}

TEST_F(FilterListDrawing, SquareIsFramedInTranslucentBlack) {
    const QImage image = Grab();
    const QRect s = Square(0);
    // Over the white corner cell: white under black at alpha 180.
    const int overWhite = 255 - 255 * 180 / 255;
    EXPECT_TRUE(Near(image.pixel(s.left(), s.top()), overWhite, overWhite, overWhite))
        << std::hex << image.pixel(s.left(), s.top());
    EXPECT_TRUE(Near(image.pixel(s.right(), s.bottom()), overWhite, overWhite, overWhite));
    // Over the black middle cell of the top row.
    EXPECT_EQ(image.pixel(s.center().x(), s.top()), qRgb(0, 0, 0));
}

TEST_F(FilterListDrawing, NameSitsOnAWhiteStrip) {
    const QImage image = Grab();
    const QRect r = ItemRect(1);
    EXPECT_EQ(image.pixel(r.left() + 2, r.center().y()), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(r.left() + 2, r.top()), qRgb(255, 255, 255));
    int dark = 0;
    int firstDark = r.right();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x < Square(1).left(); ++x)
            if (qRed(image.pixel(x, y)) < 128) {
                ++dark;
                firstDark = std::min(firstDark, x);
            }
    EXPECT_GT(dark, 10) << "the name is drawn";
    EXPECT_GE(firstDark, r.left() + 6);
    EXPECT_LE(firstDark, r.left() + 8);
}

TEST_F(FilterListDrawing, SelectedItemIsTintedWithTheHighlight) {
    m_list.SelectKind(4);
    const QImage image = Grab();
    // White under blue (0, 0, 255) at alpha 150.
    const int rg = 255 - 255 * 150 / 255;
    const QRect selected = ItemRect(2);
    EXPECT_TRUE(Near(image.pixel(selected.left() + 2, selected.center().y()), rg, rg, 255))
        << std::hex << image.pixel(selected.left() + 2, selected.center().y());
    // The square is covered too: its white centre turns blue-ish.
    const QRgb centre = image.pixel(Square(2).center());
    EXPECT_LT(qRed(centre), 160);
    EXPECT_GT(qBlue(centre), 200);
    const QRect plain = ItemRect(0);
    EXPECT_EQ(image.pixel(plain.left() + 2, plain.center().y()), qRgb(255, 255, 255));
}

TEST_F(FilterListDrawing, RedrawingGivesTheSamePixels) {
    const QImage first = Grab();
    m_list.resize(300, m_list.height());
    m_list.resize(260, m_list.height());
    EXPECT_EQ(Grab(), first);
}

} // namespace
