#pragma once

#include "settings/AssociationRows.h"

#include <QPixmap>
#include <QTableWidget>

#include <vector>

// The association grid: one row per image type with a check mark in the "Pictrel"
// column when the type opens with this program, else in the "Default" column. A
// click on a row (or Space on the current one) moves the mark.
class TAssociationGrid : public QTableWidget {
public:
    explicit TAssociationGrid(QWidget* parent = nullptr);

    void SetRows(std::vector<TAssociationRow> rows);
    [[nodiscard]] const std::vector<TAssociationRow>& Rows() const { return m_rows; }

    // "All", "None" and "Standard".
    void CheckAll(bool associated);
    void CheckStandard();
    void Toggle(int row);

    // Set by any change of a row's flag since SetRows.
    bool AssocChanged = false;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateMarks();

    std::vector<TAssociationRow> m_rows;
    QPixmap m_mark;
};
