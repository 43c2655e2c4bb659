#include "authoring/ImageTreeModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

namespace {

bool NoFolders(const QString&) {
    return false;
}

TEST(ImageTreeModel, ShowsFoldersWithTheirFilesAndStaysConsistentThroughChanges) {
    TImageTreeModel model;
    // Checks every index, parent and row count after each change.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto last =
        model.AddEntries({}, {"/pics/b.jpg", "/pics/a.jpg", "/other/c.jpg"}, NoFolders);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(model.IndexOf(*last).data().toString(), "c.jpg");
    ASSERT_EQ(model.rowCount(), 2);
    const QModelIndex pics = model.index(0, 0);
    EXPECT_EQ(pics.data().toString(), "pics");
    EXPECT_EQ(pics.data(Qt::ToolTipRole).toString(), "/pics/");
    ASSERT_EQ(model.rowCount(pics), 2);
    const QModelIndex b = model.index(0, 0, pics);
    EXPECT_EQ(b.data().toString(), "b.jpg");
    EXPECT_EQ(model.parent(b), pics);
    EXPECT_EQ(model.rowCount(b), 0) << "files have no children";

    model.SetSorted(true);
    EXPECT_EQ(model.index(0, 0, model.index(1, 0)).data().toString(), "a.jpg");
    const auto moved = model.MoveDown(model.RefsOf({model.index(0, 0)}));
    EXPECT_EQ(model.IndexOf(moved.front()).data().toString(), "other");
    model.Remove(model.RefsOf({model.index(0, 0)}));
    EXPECT_EQ(model.rowCount(), 1);
    model.SetAngle({0, 0}, 90);
    EXPECT_EQ(model.Tree().Node({0, 0})->Angle, 90);
    model.Clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.index(0, 0).isValid());
}

TEST(ImageTreeModel, NamesAreTheLastPartOfThePath) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/me/pics/", "pics"}, {"/home/me/a.jpg", "a.jpg"}, {"/", "/"}, {"x.png", "x.png"}};
    for (const auto& [path, name] : cases) EXPECT_EQ(TImageTreeModel::NameOf(path), name) << path;
}

} // namespace
