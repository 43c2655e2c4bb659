#pragma once

#include <QListWidget>

// The resampling filter list of the settings dialog: "Fastest (nearest)",
// "Normal (linear)" and "Slowest (bicubic)" for the resampler kinds 0, 2 and 4.
// Each item shows its name on a white strip and, at its right end, a small
// checkerboard enlarged by that item's own resampler, so the user sees what the
// filter does.
class TFilterListBox : public QListWidget {
public:
    explicit TFilterListBox(QWidget* parent = nullptr);
    ~TFilterListBox() override;

    // The resampler kind of the selected item: 0, 2 or 4; 2 when nothing is selected.
    [[nodiscard]] int SelectedKind() const;
    // Selects the item of `kind` as the store codes it: kinds 0 and 1 the first
    // item, 2 and 3 the second, 4 the third, anything else the second.
    void SelectKind(int kind);

    // The row `kind` selects (see SelectKind) and the kind of a row (2 for no row).
    [[nodiscard]] static int RowOfKind(int kind);
    [[nodiscard]] static int KindOfRow(int row);
};
