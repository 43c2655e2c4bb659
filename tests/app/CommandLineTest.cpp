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

} // namespace
