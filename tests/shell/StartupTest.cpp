#include "shell/Startup.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TStartFileCase {
    const char* Name;
    QStringList Args;  // "@" stands for the test's folder
    bool OpensTheFile; // else the viewer starts empty
};

class ViewerStartFileTest : public ::testing::TestWithParam<TStartFileCase> {
protected:
    static void SetUpTestSuite() {
        const QByteArray folder = QFile::encodeName(Folder());
        QDir().mkpath(Folder() + "/folder.jpg");
        QFile file(Folder() + "/picture.jpg");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not looked at");
        file.close();
        ::symlink("picture.jpg", (folder + "/link.jpg").constData());
        ::symlink("gone.jpg", (folder + "/dangling.jpg").constData());
        ::symlink("folder.jpg", (folder + "/folderlink.jpg").constData());
        ::mkfifo((folder + "/pipe.jpg").constData(), 0600);
    }
    static QString Folder() { return QDir::tempPath() + "/start"; }
};

TEST_P(ViewerStartFileTest, OnlyAnExistingFileOrFolderIsOpened) {
    QStringList args = GetParam().Args;
    args.replaceInStrings("@", Folder());
    const TCommandLine line = TCommandLine::Parse(args, QDir::currentPath());
    EXPECT_EQ(ViewerStartFile(line), GetParam().OpensTheFile ? line.FileArgument : QString());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ViewerStartFileTest,
    ::testing::Values(TStartFileCase{"File", {"/view", "@/picture.jpg"}, true},
                      TStartFileCase{"LinkToFile", {"/VIEW", "@/link.jpg"}, true},
                      TStartFileCase{"Folder", {"/view", "@/folder.jpg"}, true},
                      TStartFileCase{"LinkToFolder", {"/view", "@/folderlink.jpg"}, true},
                      TStartFileCase{"DanglingLink", {"/view", "@/dangling.jpg"}, false},
                      TStartFileCase{"Pipe", {"/view", "@/pipe.jpg"}, false},
                      TStartFileCase{"Missing", {"/view", "@/missing.jpg"}, false},
                      TStartFileCase{"NoFile", {"/view"}, false},
                      TStartFileCase{"EmptyFile", {"/view", ""}, false},
                      TStartFileCase{"WizardRole", {"/wizard", "@/picture.jpg"}, false}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
