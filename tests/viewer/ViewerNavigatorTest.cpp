#include "viewer/ViewerNavigator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Drives a navigator with a script of events and records what it asks the window to do.
//
// Events, separated by ';': "open f" (f's folder is listed), "drop" (entries dropped),
// "show f" (handed back), "list a b c" (the newest listing arrives), "stale a b" (an
// older listing arrives), "step+", "step-", "ok f", "fail f", "delete f", "page n",
// "release". Requests: "decode f", "decode f#n" (page n), "cancel", "list", "picture f"
// (with " keep" when the leaving picture is retained), "page f", "failed f",
// "pagefailed f", "placeholder f", "empty".
class TScript {
public:
    TScript()
        : Nav({[this](const QString& f, int page) {
                   std::string line = "decode ";
                   line.append(f.toStdString());
                   if (page > 0) line.append("#").append(std::to_string(page));
                   Log(line);
               },
               [this] { Log("cancel"); },
               [this](const QStringList&, std::uint64_t generation) {
                   Generation = generation;
                   Log("list");
               },
               [this](TNavShow how, const QString& f, bool keep) {
                   const std::string file = f.toStdString();
                   switch (how) {
                   case TNavShow::nsPicture:
                       Log("picture " + file + (keep ? " keep" : ""));
                       break;
                   case TNavShow::nsPage:
                       Log("page " + file);
                       break;
                   case TNavShow::nsFailed:
                       Log("failed " + file);
                       break;
                   case TNavShow::nsPageFailed:
                       Log("pagefailed " + file);
                       break;
                   case TNavShow::nsPlaceholder:
                       Log("placeholder " + file);
                       break;
                   case TNavShow::nsEmpty:
                       Log("empty");
                       break;
                   }
               }}) {}

    std::string Run(const std::string& script) {
        m_log.clear();
        const QStringList events = QString::fromStdString(script).split(u';', Qt::SkipEmptyParts);
        for (const QString& event : events) {
            QStringList words = event.trimmed().split(u' ', Qt::SkipEmptyParts);
            const QString verb = words.takeFirst();
            const QString arg = words.isEmpty() ? QString() : words.first();
            if (verb == "open")
                Nav.Open(arg, "dir");
            else if (verb == "drop")
                Nav.OpenEntries({"dir"});
            else if (verb == "show")
                Nav.ShowFile(arg);
            else if (verb == "list")
                Nav.ListingArrived(Generation, words);
            else if (verb == "stale")
                Nav.ListingArrived(Generation - 1, words);
            else if (verb == "step+")
                Nav.Step(true);
            else if (verb == "step-")
                Nav.Step(false);
            else if (verb == "ok")
                Nav.LoadSucceeded(arg);
            else if (verb == "fail")
                Nav.LoadFailed(arg);
            else if (verb == "delete")
                Nav.Deleted(arg);
            else if (verb == "page")
                Nav.ShowPage(arg.toInt());
            else if (verb == "release")
                Nav.PreviousReleased();
            else
                ADD_FAILURE() << "unknown event " << verb.toStdString();
        }
        return m_log;
    }

    TViewerNavigator Nav;
    std::uint64_t Generation = 0;

private:
    void Log(const std::string& what) { m_log += (m_log.empty() ? "" : "; ") + what; }
    std::string m_log;
};

struct TCase {
    const char* Name;
    const char* Script;
    const char* Requests;
};

void PrintTo(const TCase& c, std::ostream* os) {
    *os << c.Name;
}

class Navigation : public testing::TestWithParam<TCase> {};

TEST_P(Navigation, AsksForWhatTheScriptExpects) {
    TScript s;
    EXPECT_EQ(s.Run(GetParam().Script), GetParam().Requests);
}

const TCase kCases[] = {
    {"WrapsAtBothEndsAndComesBackOverTheRetainedPicture",
     "open b; list a b c; ok b; ok c; step+; ok a; step+; step-; ok c",
     "decode b; list; picture b; decode c; picture c keep; decode a; picture a keep; decode b; "
     "placeholder c; decode c; picture c; decode b"},
    {"ListingBeforeThePictureStillPrefetches", "open b; ok b; list a b c",
     "decode b; list; picture b; decode c"},
    {"StepOntoAFailedPrefetchShowsTheErrorAtOnce", "open a; list a b c; ok a; fail b; step+",
     "decode a; list; picture a; decode b; failed b; decode c"},
    {"QuickStepsShowOnlyTheLastFile", "open a; list a b c d; ok a; step+; step+; step+; ok b; ok d",
     "decode a; list; picture a; decode b; decode b; decode c; decode d; picture d keep; "
     "decode a"},
    {"AStepTheOtherWayIgnoresThePrefetch", "open b; list a b c; ok b; ok c; step-; ok a",
     "decode b; list; picture b; decode c; decode a; picture a keep; decode c"},
    {"UnlistedFileStepsFromTheListsEnds", "open z; list a b c; ok z; step-",
     "decode z; list; picture z; decode a; decode c"},
    {"OneFileFolderPrefetchesAndStepsNothing", "open a; list a; ok a; step+; step-",
     "decode a; list; picture a"},
    {"AStepWhileTheNewFolderIsListedWaitsForItAndTheNewFile",
     "open a; list a b c; ok a; open x; step+; ok x; list w x y; ok y",
     "decode a; list; picture a; decode b; decode x; list; picture x; decode y; picture y keep; "
     "decode w"},
    {"AStepWaitsForTheNewFileEvenWhenTheListIsIn", "open x; step+; list w x y; ok x",
     "decode x; list; picture x; decode y"},
    {"AnOlderListingIsIgnored", "open a; open x; stale a b; ok x; list w x",
     "decode a; list; decode x; list; picture x; decode w"},
    {"ALateLoadOfAReplacedRequestIsIgnored", "open a; list a b; open c; ok a",
     "decode a; list; decode c; list"},
    {"DroppedFolderShowsItsFirstEntry", "drop; list a b; ok a",
     "cancel; empty; list; decode a; picture a; decode b"},
    {"EmptyDropWhileAPictureDecodesShowsTheEmptyView", "open a; drop; ok a; list",
     "decode a; list; cancel; empty; list; empty"},
    {"DeletingTheShownEntryShowsTheOneInItsPlace", "open b; list a b c; ok b; delete b; ok c",
     "decode b; list; picture b; decode c; decode c; picture c; decode a"},
    {"DeletingTheLastEntryShowsTheFirst", "open c; list a b c; ok c; delete c",
     "decode c; list; picture c; decode a; decode a"},
    {"DeletingTheOnlyEntryEmptiesTheView", "open a; list a; ok a; delete a",
     "decode a; list; picture a; cancel; empty"},
    {"DeletingAFileNoLongerListedTouchesNothing", "open a; list a b; ok a; open x; delete a",
     "decode a; list; picture a; decode b; decode x; list"},
    {"DeletingAnotherEntryKeepsThePicture", "open a; list a b c; ok a; delete c",
     "decode a; list; picture a; decode b"},
    {"APageIsDecodedAndThePrefetchStartsAgain", "open a; list a b; ok a; ok b; page 2; ok a",
     "decode a; list; picture a; decode b; decode a#2; page a; decode b"},
    {"ARefusedPageSaysSo", "open a; list a b; ok a; page 3; fail a",
     "decode a; list; picture a; decode b; decode a#3; pagefailed a; decode b"},
    {"APageWaitsForNothingButANewPictureWins", "open a; list a b; ok a; step+; page 1; ok b",
     "decode a; list; picture a; decode b; decode b; picture b keep; decode a"},
    {"AReleasedPictureIsNoPlaceholder", "open b; list a b c; ok b; ok c; step+; release; step-",
     "decode b; list; picture b; decode c; picture c keep; decode a; decode b"},
    {"HandedBackFileIsShownInTheKeptList", "open a; list a b c; ok a; show c; ok c",
     "decode a; list; picture a; decode b; decode c; picture c; decode a"},
};

INSTANTIATE_TEST_SUITE_P(Events, Navigation, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Navigation, DeleteActsOnlyOnTheEntryOnScreenWithNothingOnItsWay) {
    TScript s;
    s.Run("open a; list a b c; ok a");
    EXPECT_TRUE(s.Nav.ShownIsCurrent());
    s.Run("step-"); // nothing prefetched that way: c decodes while a stays on screen
    EXPECT_EQ(s.Nav.Shown(), "a");
    EXPECT_EQ(s.Nav.Target(), "c");
    EXPECT_FALSE(s.Nav.ShownIsCurrent());
    s.Run("ok c");
    EXPECT_TRUE(s.Nav.ShownIsCurrent());
    s.Run("open x"); // handed over: the list is being made anew
    EXPECT_FALSE(s.Nav.ShownIsCurrent());
    s.Run("ok x");
    EXPECT_FALSE(s.Nav.ShownIsCurrent()) << "not yet in a list";
    EXPECT_TRUE(s.Nav.ShownIsListed()) << "a turn made now is kept";
    s.Run("list w x");
    EXPECT_TRUE(s.Nav.ShownIsCurrent());
    EXPECT_EQ(s.Nav.ShownIndex(), 1);
}

TEST(Navigation, HeldKeysWhileListingAreBounded) {
    TScript s;
    s.Run("open a");
    for (int i = 0; i < 5000; ++i) s.Nav.Step(true);
    // 1000 steps in a list of three end on the file 1000 % 3 = 1 past a.
    const std::string log = s.Run("ok a; list a b c");
    EXPECT_EQ(s.Nav.Target(), "b") << log;
}

struct TNeighbourCase {
    int Index, Count;
    bool Forward;
    int Expected;
};

class Neighbour : public testing::TestWithParam<TNeighbourCase> {};

TEST_P(Neighbour, WrapsAndContinuesFromOutOfRange) {
    const TNeighbourCase& c = GetParam();
    EXPECT_EQ(NeighbourIndex(c.Index, c.Count, c.Forward), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Neighbour,
    testing::Values(TNeighbourCase{1, 3, true, 2}, TNeighbourCase{2, 3, true, 0},
                    TNeighbourCase{0, 3, false, 2}, TNeighbourCase{-1, 3, true, 0},
                    TNeighbourCase{-1, 3, false, 2}, TNeighbourCase{3, 3, false, 2},
                    TNeighbourCase{0, 1, true, 0}, TNeighbourCase{0, 0, true, -1}));

} // namespace
