#include "settings/AssociationRows.h"

#include "app/FileAssociations.h"
#include "loading/ImageFilter.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QSet>

#include <vector>

namespace {

std::vector<TAssociationRow> GridRows() {
    return AssociationRowsOf(GetImageFilter(true, true, true, true));
}

QStringList ExtensionsOf(const TAssociationRow& row) {
    QStringList extensions;
    for (int k = 0; !ExtensionAt(row.Patterns, k).isEmpty(); ++k)
        extensions << ExtensionAt(row.Patterns, k).toLower();
    return extensions;
}

// The row of the grid that offers `ext`; -1 when none does.
int RowOf(const std::vector<TAssociationRow>& rows, const QString& ext) {
    for (int r = 0; r < int(rows.size()); ++r)
        if (ExtensionsOf(rows[r]).contains(ext)) return r;
    return -1;
}

bool Registered(const QString& ext) {
    TRegistry classes(TRegRoot::rrClassesRoot);
    return classes.OpenKey("\\." + ext, false) &&
           classes.ReadString({}).value_or(QString()).compare("Pictrel." + ext,
                                                              Qt::CaseInsensitive) == 0;
}

TEST(AssociationTable, EveryTypeIsInExactlyOneRow) {
    QHash<QString, int> seen;
    for (const TAssociationRow& row : GridRows())
        for (const QString& ext : ExtensionsOf(row)) ++seen[ext];
    ASSERT_FALSE(seen.isEmpty());
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        EXPECT_EQ(it.value(), 1) << it.key().toStdString();
    for (const QString& ext : CameraRawExtensions())
        EXPECT_EQ(seen.value(ext), 1) << ext.toStdString() << " is offered";
}

TEST(AssociationTable, SharedFamiliesMergeAndStrayTypesGoToTheNarrowestRow) {
    const std::vector<TAssociationRow> rows = AssociationRowsOf(
        "All files|*.*|HDR (*.hdr)|*.hdr|Camera one (*.a;*.b;*.c)|*.a;*.b;*.c|"
        "JPEG (*.jpg)|*.jpg|Camera two (*.a;*.b;*.c;*.d;*.hdr)|*.a;*.b;*.c;*.d;*.hdr|"
        "Odd (*.jpg;*.e;*.f)|*.jpg;*.e;*.f");
    ASSERT_EQ(rows.size(), 4U);
    EXPECT_EQ(rows[0].Display, "HDR (*.hdr)");
    EXPECT_EQ(rows[1].Display, "Camera one (*.a, *.b, *.c, *.d)");
    EXPECT_EQ(rows[2].Display, "JPEG (*.jpg)");
    EXPECT_EQ(rows[3].Display, "Odd (*.e, *.f)");
}

// An extension, another one its row must hold (the two decoders' RAW lists end in
// one row) and one it must not ("hdr" is the HDR row's alone).
struct TRowCase {
    const char* Ext;
    const char* SameRowAs; // another extension the row must hold; empty: none
    const char* NotWith;   // an extension the row must not hold
};

void PrintTo(const TRowCase& c, std::ostream* os) {
    *os << c.Ext;
}

class AssociationTableRow : public testing::TestWithParam<TRowCase> {};

TEST_P(AssociationTableRow, TickingItsRowAloneRegistersExactlyThatRow) {
    const TRowCase& c = GetParam();
    std::vector<TAssociationRow> rows = GridRows();
    const int row = RowOf(rows, c.Ext);
    ASSERT_GE(row, 0) << c.Ext << " is in no row";
    if (*c.SameRowAs != 0) {
        EXPECT_EQ(RowOf(rows, c.SameRowAs), row);
    }
    if (*c.NotWith != 0) {
        EXPECT_NE(RowOf(rows, c.NotWith), row);
    }

    // "All" first, so that releasing the other rows has something to undo.
    for (TAssociationRow& r : rows) r.Associated = true;
    ApplyAssociations(CheckedExtensions(rows), UncheckedExtensions(rows), "/opt/pictrel");
    for (TAssociationRow& r : rows) r.Associated = false;
    rows[row].Associated = true;
    ApplyAssociations(CheckedExtensions(rows), UncheckedExtensions(rows), "/opt/pictrel");

    const QStringList own = ExtensionsOf(rows[row]);
    for (const TAssociationRow& r : rows)
        for (const QString& ext : ExtensionsOf(r))
            EXPECT_EQ(Registered(ext), own.contains(ext)) << ext.toStdString();

    for (TAssociationRow& r : rows) r.Associated = false;
    ApplyAssociations({}, UncheckedExtensions(rows), "/opt/pictrel");
}

INSTANTIATE_TEST_SUITE_P(Rows, AssociationTableRow,
                         testing::Values(TRowCase{"cr2", "nef", "hdr"},
                                         TRowCase{"raw", "dng", "jpg"}, TRowCase{"hdr", "", "cr2"},
                                         TRowCase{"jpg", "jpeg", "png"}, TRowCase{"png", "", "jpg"},
                                         TRowCase{"tif", "tiff", ""}),
                         [](const testing::TestParamInfo<TRowCase>& info) {
                             return std::string(info.param.Ext);
                         });

} // namespace
