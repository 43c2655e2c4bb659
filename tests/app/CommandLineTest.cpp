#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct TRoleCase {
    const char* Name;
    QStringList Args;
    TStartRole Role;
};

class CommandLineRoleTest : public ::testing::TestWithParam<TRoleCase> {};

TEST_P(CommandLineRoleTest, FirstArgumentDecides) {
    EXPECT_EQ(int(TCommandLine::Parse(GetParam().Args).Role), int(GetParam().Role));
}

INSTANTIATE_TEST_SUITE_P(
    Switches, CommandLineRoleTest,
    ::testing::Values(
        TRoleCase{"NoArguments", {}, TStartRole::srWizardNoArgs},
        TRoleCase{"View", {"/view"}, TStartRole::srView},
        TRoleCase{"ViewUpper", {"/VIEW", "a.jpg"}, TStartRole::srView},
        TRoleCase{"ViewMixed", {"/View"}, TStartRole::srView},
        TRoleCase{"DashIsNoSwitch", {"-view"}, TStartRole::srNone},
        TRoleCase{"NoSlashIsNoSwitch", {"view"}, TStartRole::srNone},
        TRoleCase{"BareFileName", {"picture.jpg"}, TStartRole::srNone},
        TRoleCase{"Help", {"--help"}, TStartRole::srNone},
        TRoleCase{"TrailingSpace", {"/view "}, TStartRole::srNone},
        TRoleCase{"PrefixOnly", {"/vie"}, TStartRole::srNone},
        // Only ASCII letters fold: a dotless capital I is no "i".
        TRoleCase{"NonAsciiLookalike", {QString::fromUtf8("/W\u0130ZARD")}, TStartRole::srNone},
        TRoleCase{"Wizard", {"/Wizard", "x"}, TStartRole::srWizard},
        TRoleCase{"Slideshow", {"/SLIDESHOW"}, TStartRole::srSlideshow},
        TRoleCase{"Reg", {"/reg"}, TStartRole::srReg},
        TRoleCase{"Unreg", {"/UnReg"}, TStartRole::srUnreg},
        TRoleCase{"OwnReg", {"/ownreg"}, TStartRole::srOwnReg},
        TRoleCase{"OwnUnreg", {"/ownunreg", "/reg"}, TStartRole::srOwnUnreg}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TRegCase {
    const char* Name;
    QStringList Args;
    QStringList Extensions;
    bool OwnReg;
    bool OwnUnreg;
};

class CommandLineRegTest : public ::testing::TestWithParam<TRegCase> {};

TEST_P(CommandLineRegTest, ExtensionsAndOwnType) {
    const TCommandLine line = TCommandLine::Parse(GetParam().Args);
    EXPECT_EQ(line.RegExtensions, GetParam().Extensions);
    EXPECT_EQ(line.RegisterOwnType, GetParam().OwnReg);
    EXPECT_EQ(line.UnregisterOwnType, GetParam().OwnUnreg);
}

INSTANTIATE_TEST_SUITE_P(
    Registration, CommandLineRegTest,
    ::testing::Values(
        TRegCase{"RegJpgPngOwnReg", {"/reg", "jpg", "png", "/ownreg"}, {"jpg", "png"}, true, false},
        TRegCase{"RegOwnRegOnly", {"/reg", "/ownreg"}, {}, true, false},
        TRegCase{"RegAlone", {"/reg"}, {}, false, false},
        TRegCase{"OwnRegInTheMiddleIsAnExtension",
                 {"/reg", "/ownreg", "jpg"},
                 {"/ownreg", "jpg"},
                 false,
                 false},
        TRegCase{"UnregPng", {"/unreg", "png"}, {}, false, false},
        TRegCase{"UnregOwnUnreg", {"/unreg", "/OwnUnreg"}, {}, false, true},
        TRegCase{"UnregXOwnUnreg", {"/unreg", "x", "/ownunreg"}, {}, false, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CommandLine, FileArgumentIsTheSecondArgumentAsGiven) {
    const QString name = QString::fromUtf8("/tmp/Ordner mit Leerzeichen/\"zitat\" ü.jpg");
    EXPECT_EQ(TCommandLine::Parse({"/view", name, "extra"}).FileArgument, name);
    EXPECT_TRUE(TCommandLine::Parse({"/view"}).FileArgument.isEmpty());
}

struct TAbsoluteCase {
    const char* Name;
    QString Path;
    QString Folder;
    QString Expected;
};

class CommandLineAbsoluteTest : public ::testing::TestWithParam<TAbsoluteCase> {};

TEST_P(CommandLineAbsoluteTest, AbsolutePath) {
    EXPECT_EQ(TCommandLine::AbsolutePath(GetParam().Path, GetParam().Folder), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CommandLineAbsoluteTest,
    ::testing::Values(
        TAbsoluteCase{"Plain", "x.jpg", "/home/u/pics", "/home/u/pics/x.jpg"},
        TAbsoluteCase{"Below", "sub/x.jpg", "/home/u", "/home/u/sub/x.jpg"},
        TAbsoluteCase{"DotsAndDoubledSeparators", ".//sub/./x.jpg", "/w/", "/w/sub/x.jpg"},
        // Behind a symbolic link ".." is not the lexical parent: left to the system.
        TAbsoluteCase{"ParentStays", "../x.jpg", "/w/link", "/w/link/../x.jpg"},
        TAbsoluteCase{"TheFolderItself", ".", "/w", "/w"},
        TAbsoluteCase{"TrailingSeparatorStays", "sub/", "/w", "/w/sub/"},
        TAbsoluteCase{"FromTheRoot", "x.jpg", "/", "/x.jpg"},
        TAbsoluteCase{"SpacesAndUmlauts", QString::fromUtf8("mit Leerzeichen/\xc3\xbc.jpg"), "/w",
                      QString::fromUtf8("/w/mit Leerzeichen/\xc3\xbc.jpg")},
        TAbsoluteCase{"AbsoluteAsGiven", "/a/./b.jpg", "/w", "/a/./b.jpg"},
        TAbsoluteCase{"EmptyStaysEmpty", "", "/w", ""},
        TAbsoluteCase{"NoFolder", "x.jpg", "", "x.jpg"},
        TAbsoluteCase{"RelativeFolderIsNoBase", "x.jpg", "w", "x.jpg"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TResolveCase {
    const char* Name;
    QStringList Args;
    QString FileArgument;
};

class CommandLineResolveTest : public ::testing::TestWithParam<TResolveCase> {};

TEST_P(CommandLineResolveTest, WindowRolesResolveTheirFile) {
    EXPECT_EQ(TCommandLine::Parse(GetParam().Args, "/w").FileArgument, GetParam().FileArgument);
}

INSTANTIATE_TEST_SUITE_P(
    Roles, CommandLineResolveTest,
    ::testing::Values(TResolveCase{"View", {"/view", "x.jpg"}, "/w/x.jpg"},
                      TResolveCase{"ViewAbsolute", {"/VIEW", "/p/x.jpg"}, "/p/x.jpg"},
                      TResolveCase{"ViewWithoutFile", {"/view"}, ""},
                      TResolveCase{"ViewEmptyFile", {"/view", ""}, ""},
                      TResolveCase{"Wizard", {"/wizard", "show.VekSS"}, "/w/show.VekSS"},
                      TResolveCase{"Slideshow", {"/slideshow", "s/show.VekSS"}, "/w/s/show.VekSS"},
                      // Extensions and switches are no file names.
                      TResolveCase{"Reg", {"/reg", "jpg"}, "jpg"},
                      TResolveCase{"Unreg", {"/unreg", "/ownunreg"}, "/ownunreg"},
                      TResolveCase{"NoRole", {"x.jpg", "y.jpg"}, "y.jpg"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
