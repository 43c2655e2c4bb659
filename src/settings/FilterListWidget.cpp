#include "settings/FilterListWidget.h"

#include "gfx/Bitmap32.h"
#include "gfx/Resampler.h"

#include <QImage>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace {

struct TFilterItem {
    const char* Name;
    int Kind;
};
constexpr std::array<TFilterItem, 3> kItems = {{
    {"Fastest (nearest)", 0},
    {"Normal (linear)", 2},
    {"Slowest (bicubic)", 4},
}};

constexpr int kTextLeft = 6;
constexpr TColor32 kFrameColour = 0xB4000000; // black at alpha 180
constexpr int kSelectionAlpha = 150;

// Draws the items: name on a white strip, the filter's sample square at the right.
class TFilterItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics& metrics = option.fontMetrics;
        const int height = std::max(metrics.height() + 6, 18);
        const int text = metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
        return {kTextLeft + text + 2 * kTextLeft + height, height};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QRect r = option.rect;
        if (r.isEmpty()) return;
        painter->save();
        painter->fillRect(r, Qt::white);

        const int side = r.height();
        painter->setFont(option.font);
        painter->setPen(Qt::black);
        painter->drawText(r.adjusted(kTextLeft, 0, -side, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(Qt::DisplayRole).toString());

        const int row = std::clamp(index.row(), 0, int(kItems.size()) - 1);
        const double ratio =
            painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        const QRect square(r.right() + 1 - side, r.top(), side, side);
        painter->drawImage(QRectF(square),
                           Sample(row, std::max(1, int(std::lround(side * ratio)))));

        if (option.state & QStyle::State_Selected) {
            QColor tint = option.palette.color(QPalette::Highlight);
            tint.setAlpha(kSelectionAlpha);
            painter->fillRect(r, tint);
        }
        painter->restore();
    }

private:
    // The enlarged checkerboard of one item, made once per size (not per paint).
    struct TSample {
        int Size = 0;
        TBitmap32 Bitmap;
        QImage Image; // over Bitmap's memory
    };

    const QImage& Sample(int row, int size) const {
        TSample& s = m_samples[std::size_t(row)];
        if (s.Size == size) return s.Image;

        // 3 x 3 cells, white in the corners and the centre.
        TBitmap32 board(3, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                board.SetPixel(x, y, (x + y) % 2 == 0 ? clWhite32 : clBlack32);
        MakeResampler(kItems[std::size_t(row)].Kind, board);

        s.Image = QImage(); // drop the view before the memory it shows
        s.Bitmap.SetSize(size, size);
        s.Bitmap.Clear(clWhite32);
        s.Bitmap.StretchDraw(TFloatRect{0, 0, double(size), double(size)}, board);
        s.Bitmap.FrameRectTS(s.Bitmap.BoundsRect(), kFrameColour);
        s.Size = size;
        // Opaque: shown as RGB32 straight from the bitmap, no conversion per paint.
        s.Image = QImage(reinterpret_cast<const uchar*>(std::as_const(s.Bitmap).Bits()), size, size,
                         size * 4, QImage::Format_RGB32);
        return s.Image;
    }

    mutable std::array<TSample, kItems.size()> m_samples;
};

} // namespace

TFilterListBox::TFilterListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new TFilterItemDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    for (const TFilterItem& item : kItems) {
        auto* entry = new QListWidgetItem(QString::fromLatin1(item.Name), this);
        entry->setData(Qt::UserRole, item.Kind);
    }
}

TFilterListBox::~TFilterListBox() = default;

int TFilterListBox::RowOfKind(int kind) {
    switch (kind) {
    case 0:
    case 1:
        return 0;
    case 4:
        return 2;
    default: // 2, 3 and anything unknown: linear
        return 1;
    }
}

int TFilterListBox::KindOfRow(int row) {
    if (row < 0 || row >= int(kItems.size())) return 2;
    return kItems[std::size_t(row)].Kind;
}

int TFilterListBox::SelectedKind() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) return 2;
    return KindOfRow(row(selected.first()));
}

void TFilterListBox::SelectKind(int kind) {
    setCurrentRow(RowOfKind(kind), QItemSelectionModel::ClearAndSelect);
}
