#include "settings/AssociationGridWidget.h"

#include "layers/ResourceLoader.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr int kMarkColumnWidth = 64;
constexpr int kMarkSize = 16;

enum TColumn { colDescription, colPictrel, colDefault };

// Every second row tinted grey, the mark centred, silver lines between the mark columns.
class TAssociationDelegate : public QStyledItemDelegate {
public:
    TAssociationDelegate(const QPixmap& mark, QObject* parent)
        : QStyledItemDelegate(parent), m_mark(mark) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.row() % 2 == 1) painter->fillRect(option.rect, QColor(128, 128, 128, 10));
        if (index.column() == colDescription) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        if (index.data(Qt::UserRole).toBool()) {
            const QRect box(0, 0, kMarkSize, kMarkSize);
            painter->drawPixmap(box.translated(option.rect.center() - box.center()), m_mark);
        }
        painter->setPen(QColor(0xC0, 0xC0, 0xC0));
        painter->drawLine(option.rect.topLeft(), option.rect.bottomLeft());
    }

private:
    const QPixmap& m_mark;
};

} // namespace

TAssociationGrid::TAssociationGrid(QWidget* parent) : QTableWidget(parent) {
    TBitmap32 mark;
    if (LoadIconResource(mark, QStringLiteral("zOK"), kMarkSize))
        m_mark = QPixmap::fromImage(mark.ImageView().copy());
    setColumnCount(3);
    auto* description = new QTableWidgetItem(QStringLiteral("Description"));
    description->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHorizontalHeaderItem(colDescription, description);
    for (const auto& [column, title] :
         {std::pair{colPictrel, "Pictrel"}, {colDefault, "Default"}}) {
        auto* item = new QTableWidgetItem(QString::fromLatin1(title));
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setHorizontalHeaderItem(column, item);
    }
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSectionResizeMode(colDescription, QHeaderView::Stretch);
    horizontalHeader()->setSectionResizeMode(colPictrel, QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(colDefault, QHeaderView::Fixed);
    setColumnWidth(colPictrel, kMarkColumnWidth);
    setColumnWidth(colDefault, kMarkColumnWidth);
    setShowGrid(false);
    setWordWrap(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new TAssociationDelegate(m_mark, this));
    connect(this, &QTableWidget::cellClicked, this, [this](int row, int) { Toggle(row); });
}

void TAssociationGrid::SetRows(std::vector<TAssociationRow> rows) {
    m_rows = std::move(rows);
    AssocChanged = false;
    setRowCount(int(m_rows.size()));
    for (int r = 0; r < int(m_rows.size()); ++r) {
        setItem(r, colDescription, new QTableWidgetItem(m_rows[std::size_t(r)].Display));
        setItem(r, colPictrel, new QTableWidgetItem);
        setItem(r, colDefault, new QTableWidgetItem);
    }
    UpdateMarks();
    resizeRowsToContents();
}

void TAssociationGrid::CheckAll(bool associated) {
    for (TAssociationRow& row : m_rows) row.Associated = associated;
    AssocChanged = true;
    UpdateMarks();
}

void TAssociationGrid::CheckStandard() {
    for (TAssociationRow& row : m_rows) row.Associated = row.Standard;
    AssocChanged = true;
    UpdateMarks();
}

void TAssociationGrid::Toggle(int row) {
    if (row < 0 || row >= int(m_rows.size())) return;
    m_rows[std::size_t(row)].Associated = !m_rows[std::size_t(row)].Associated;
    AssocChanged = true;
    UpdateMarks();
}

void TAssociationGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && currentRow() >= 0) {
        Toggle(currentRow());
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void TAssociationGrid::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    // The descriptions wrap to the new width.
    resizeRowsToContents();
}

void TAssociationGrid::UpdateMarks() {
    for (int r = 0; r < int(m_rows.size()); ++r) {
        const bool ours = m_rows[std::size_t(r)].Associated;
        if (QTableWidgetItem* cell = item(r, colPictrel)) cell->setData(Qt::UserRole, ours);
        if (QTableWidgetItem* cell = item(r, colDefault)) cell->setData(Qt::UserRole, !ours);
    }
}
