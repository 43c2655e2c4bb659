#include "authoring/ImageFileTree.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using TRef = TImageFileTree::TRef;

// The tree as one line: folders in brackets, explicit nodes marked with a star.
std::string Shape(const TImageFileTree& tree) {
    std::string out;
    for (const auto& folder : tree.Folders()) {
        out.append("[").append(folder.Path.toStdString()).append(folder.Explicit ? "*" : "");
        for (const auto& file : folder.Children)
            out.append(" ")
                .append(file.Path.section(u'/', -1).toStdString())
                .append(file.Explicit ? "*" : "");
        out += "]";
    }
    return out;
}

bool IsFolder(const QString& path) {
    return path.endsWith(u'/') || !path.contains(u'.');
}

// Folders whose names differ only in case are two folders here, each with its node,
// its files and its place in the saved list.
struct TCaseFolders {
    const char* name;
    QStringList given;
    QStringList expanded;
    const char* shape;
    QStringList saved;
};

void PrintTo(const TCaseFolders& c, std::ostream* os) {
    *os << c.name;
}

class ImageFileTreeCase : public testing::TestWithParam<TCaseFolders> {};

TEST_P(ImageFileTreeCase, FoldersDifferingInCaseStayApart) {
    const TCaseFolders& c = GetParam();
    TImageFileTree tree;
    tree.AddEntries(c.given, c.expanded, IsFolder);
    EXPECT_EQ(Shape(tree), c.shape);
    EXPECT_EQ(tree.ExplicitPaths(), c.saved);
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageFileTreeCase,
                         testing::Values(TCaseFolders{"TwoFolders",
                                                      {"/x/Summer", "/x/summer"},
                                                      {"/x/Summer/1.jpg", "/x/summer/2.jpg"},
                                                      "[/x/Summer/* 1.jpg][/x/summer/* 2.jpg]",
                                                      {"/x/Summer/", "/x/summer/"}},
                                         TCaseFolders{"TwoFiles",
                                                      {"/x/Summer/1.jpg", "/x/summer/1.jpg"},
                                                      {"/x/Summer/1.jpg", "/x/summer/1.jpg"},
                                                      "[/x/Summer/ 1.jpg*][/x/summer/ 1.jpg*]",
                                                      {"/x/Summer/1.jpg", "/x/summer/1.jpg"}},
                                         TCaseFolders{"ListedFilesOfEach",
                                                      {"/x/A", "/x/a"},
                                                      {"/x/A/1.jpg", "/x/a/1.jpg"},
                                                      "[/x/A/* 1.jpg][/x/a/* 1.jpg]",
                                                      {"/x/A/", "/x/a/"}}),
                         [](const testing::TestParamInfo<TCaseFolders>& info) {
                             return std::string(info.param.name);
                         });

TEST(ImageFileTree, MissingFoldersKeepTheirPlaceAndPathAsGiven) {
    TImageFileTree tree;
    const auto missing = [](const QString& p) { return p.startsWith("/gone"); };
    const auto noFolder = [](const QString&) { return false; };
    tree.AddEntries({"/gone/a", "/p/1.jpg", "/gone/b/"}, {"/p/1.jpg"}, noFolder, missing);
    tree.AddEntries({"/gone/a"}, {}, noFolder, missing);
    // Given folders come first, as folders found do.
    EXPECT_EQ(Shape(tree), "[/gone/a*][/gone/b/*][/p/ 1.jpg*]") << "added once";
    EXPECT_TRUE(tree.Folders()[0].Missing);
    EXPECT_FALSE(tree.Folders()[2].Missing);
    EXPECT_EQ(tree.ExplicitPaths(), (QStringList{"/gone/a", "/gone/b/", "/p/1.jpg"}));
}

TEST(ImageFileTree, FilesGoUnderTheirFolderAndFoldersAreAddedOnce) {
    TImageFileTree tree;
    // A folder added as a whole, then one of its files given again, then a file of
    // another folder, and the first folder again.
    tree.AddEntries({"/p/a"}, {"/p/a/1.jpg", "/p/a/2.jpg"}, IsFolder);
    tree.AddEntries({"/p/b/x.jpg"}, {"/p/b/x.jpg"}, IsFolder);
    tree.AddEntries({"/p/a/"}, {}, IsFolder);
    EXPECT_EQ(Shape(tree), "[/p/a/* 1.jpg 2.jpg][/p/b/ x.jpg*]");
    EXPECT_EQ(tree.ExplicitPaths(), (QStringList{"/p/a/", "/p/b/x.jpg"}));
    const auto last = tree.AddEntries({"/p/a/2.jpg"}, {"/p/a/2.jpg"}, IsFolder);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(*last, (TRef{0, 2})) << "the last node added is reported";
    EXPECT_FALSE(tree.AddEntries({}, {}, IsFolder).has_value());
}

TEST(ImageFileTree, AFolderAddedTwiceListsItsFilesOnce) {
    TImageFileTree tree;
    tree.AddEntries({"/p/a"}, {"/p/a/1.jpg", "/p/a/2.jpg"}, IsFolder);
    EXPECT_FALSE(tree.AddEntries({"/p/a"}, {"/p/a/1.jpg", "/p/a/2.jpg"}, IsFolder).has_value());
    // A file given itself still joins as its own entry, and a listing after it adds no copy.
    tree.AddEntries({"/p/a/2.jpg"}, {"/p/a/2.jpg"}, IsFolder);
    tree.AddEntries({"/p/a"}, {"/p/a/1.jpg", "/p/a/2.jpg", "/p/a/3.jpg"}, IsFolder);
    EXPECT_EQ(Shape(tree), "[/p/a/* 1.jpg 2.jpg 2.jpg* 3.jpg]");
    EXPECT_EQ(tree.ExplicitPaths(), (QStringList{"/p/a/", "/p/a/2.jpg"}));
}

TEST(ImageFileTree, RemovingTakesFoldersWithTheirFiles) {
    TImageFileTree tree;
    tree.AddEntries({"/a/1.jpg", "/a/2.jpg", "/b/3.jpg", "/c/4.jpg"},
                    {"/a/1.jpg", "/a/2.jpg", "/b/3.jpg", "/c/4.jpg"}, IsFolder);
    tree.Remove({{1, -1}, {1, 0}, {0, 1}, {0, 1}});
    EXPECT_EQ(Shape(tree), "[/a/ 1.jpg*][/c/ 4.jpg*]");
    tree.Remove({{7, -1}, {0, 5}});
    EXPECT_EQ(Shape(tree), "[/a/ 1.jpg*][/c/ 4.jpg*]") << "unknown nodes are ignored";
}

TEST(ImageFileTree, InvertingKeepsTheFocusedNodesState) {
    TImageFileTree tree;
    tree.AddEntries({"/a/1.jpg", "/a/2.jpg"}, {"/a/1.jpg", "/a/2.jpg"}, IsFolder);
    const std::vector<TRef> inverted = tree.Inverted({{0, 0}}, TRef{0, 1});
    EXPECT_EQ(inverted, (std::vector<TRef>{{0, -1}}));
    EXPECT_EQ(tree.Inverted({}, std::nullopt).size(), 3U);
}

// Up and down among siblings with one or several selected nodes.
TEST(ImageFileTree, UpAndDownMoveTheSelectedSiblings) {
    struct Case {
        const char* name;
        std::vector<TRef> selected;
        bool up;
        const char* shape;
        std::vector<TRef> after;
    };
    const Case cases[] = {
        {"one file up", {{0, 2}}, true, "[/a/ 1 3 2 4]", {{0, 1}}},
        {"two files up as a block", {{0, 1}, {0, 2}}, true, "[/a/ 2 3 1 4]", {{0, 0}, {0, 1}}},
        {"the first has no previous sibling",
         {{0, 0}, {0, 2}},
         true,
         "[/a/ 1 2 3 4]",
         {{0, 0}, {0, 2}}},
        {"two apart down", {{0, 0}, {0, 2}}, false, "[/a/ 2 1 4 3]", {{0, 1}, {0, 3}}},
        {"the last cannot go down", {{0, 3}}, false, "[/a/ 1 2 3 4]", {{0, 3}}},
        {"a block down", {{0, 1}, {0, 2}}, false, "[/a/ 1 4 2 3]", {{0, 2}, {0, 3}}},
    };
    for (const Case& c : cases) {
        TImageFileTree tree;
        tree.AddEntries({}, {"/a/1", "/a/2", "/a/3", "/a/4"}, [](const QString&) { return false; });
        tree.SetSorted(true);
        const auto after = c.up ? tree.MoveUp(c.selected) : tree.MoveDown(c.selected);
        EXPECT_EQ(Shape(tree), c.shape) << c.name;
        EXPECT_EQ(after, c.after) << c.name;
        EXPECT_FALSE(tree.Sorted()) << c.name << ": moving switches sorting off";
    }
}

TEST(ImageFileTree, FoldersMoveWithTheirFiles) {
    TImageFileTree tree;
    tree.AddEntries({}, {"/a/1", "/b/2", "/b/3"}, [](const QString&) { return false; });
    const auto after = tree.MoveUp({{1, -1}, {1, 1}});
    EXPECT_EQ(Shape(tree), "[/b/ 3 2][/a/ 1]");
    EXPECT_EQ(after, (std::vector<TRef>{{0, -1}, {0, 0}}));
}

TEST(ImageFileTree, SortingIsOrdinalAndKeepsNewNodesInPlace) {
    TImageFileTree tree;
    const auto noFolders = [](const QString&) { return false; };
    tree.AddEntries({}, {"/z/b", "/a/B", "/a/a"}, noFolders);
    EXPECT_EQ(Shape(tree), "[/z/ b][/a/ B a]") << "as added";
    tree.SetSorted(true);
    EXPECT_EQ(Shape(tree), "[/a/ B a][/z/ b]") << "upper case first";
    tree.AddEntries({}, {"/a/A", "/m/c"}, noFolders);
    EXPECT_EQ(Shape(tree), "[/a/ A B a][/m/ c][/z/ b]");
}

} // namespace

namespace {

TEST(ImageFileTree, AFileGivenWithItsFolderIsSavedOnce) {
    TImageFileTree tree;
    // The folder's listing and the file itself, added in one go (as a loaded file is).
    tree.AddEntries({"/p/", "/p/b.jpg"}, {"/p/a.jpg", "/p/b.jpg", "/p/b.jpg"},
                    [](const QString& p) { return p.endsWith(u'/'); });
    EXPECT_EQ(tree.ExplicitPaths(), (QStringList{"/p/", "/p/b.jpg"}));
}

} // namespace
