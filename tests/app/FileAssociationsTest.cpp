#include "app/FileAssociations.h"
#include "app/MimeAppsList.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

const QString kProgram = "/opt/Pictrel Dir/pictrel";

QString Read(TRegRoot root, const QString& key, const QString& value = {}) {
    TRegistry reg(root);
    if (!reg.OpenKey('\\' + key, false)) return "<no key>";
    return reg.ReadString(value).value_or("<no value>");
}

void Set(TRegRoot root, const QString& key, const QString& value, const QString& data) {
    TRegistry reg(root);
    ASSERT_TRUE(reg.OpenKey('\\' + key, true));
    reg.WriteString(value, data);
    reg.CloseKey();
}

bool KeyExists(TRegRoot root, const QString& key) {
    TRegistry reg(root);
    return reg.KeyExists('\\' + key);
}

QString Saved(const QString& ext, const QString& value) {
    return Read(TRegRoot::rrLocalMachine, "software\\Brommel\\Pictrel\\Previous param\\" + ext,
                value);
}

QByteArray FileText(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString Applications() {
    return qEnvironmentVariable("XDG_DATA_HOME") + "/applications/";
}

const QString kFileExts = "software\\microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

TEST(FileAssociations, RegisteringOverAnotherProgId) {
    Set(TRegRoot::rrClassesRoot, ".jpg", {}, "Other.jpg");
    RegisterExtensions({"jpg"}, kProgram);
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, ".jpg"), "Pictrel.jpg");
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel.jpg"), "Pictrel jpg");
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel.jpg\\shell\\open\\command"),
              "\"/opt/Pictrel Dir/pictrel\" /view \"%1\"");
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel.jpg\\DefaultIcon"), kProgram + ",6");
    EXPECT_EQ(Saved("jpg", "CR Name"), "Other.jpg");
    EXPECT_EQ(Saved("jpg", "CU Name"), "");
    // No FileExts key: it is not created.
    EXPECT_FALSE(KeyExists(TRegRoot::rrCurrentUser, kFileExts));

    // Twice keeps the first saved values.
    RegisterExtensions({"jpg"}, kProgram);
    EXPECT_EQ(Saved("jpg", "CR Name"), "Other.jpg");

    UnregisterExtensions({"JPG"});
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, ".jpg"), "Other.jpg");
    EXPECT_FALSE(KeyExists(TRegRoot::rrClassesRoot, "Pictrel.jpg"));
    EXPECT_FALSE(
        KeyExists(TRegRoot::rrLocalMachine, "software\\Brommel\\Pictrel\\Previous param\\jpg"));
}

TEST(FileAssociations, TakenOverMeanwhileIsLeftAlone) {
    Set(TRegRoot::rrClassesRoot, ".gif", {}, "Before.gif");
    RegisterExtensions({"gif"}, kProgram);
    Set(TRegRoot::rrClassesRoot, ".gif", {}, "Thief.gif");
    UnregisterExtensions({"gif"});
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, ".gif"), "Thief.gif");
    EXPECT_FALSE(KeyExists(TRegRoot::rrClassesRoot, "Pictrel.gif"));
}

TEST(FileAssociations, UsersOwnChoiceIsTakenAndPutBack) {
    Set(TRegRoot::rrCurrentUser, kFileExts + "\\.png", {}, "UserName");
    Set(TRegRoot::rrCurrentUser, kFileExts + "\\.png", "Progid", "");
    Set(TRegRoot::rrClassesRoot, ".png", {}, "Class.png");
    RegisterExtensions({"png"}, kProgram);
    EXPECT_EQ(Read(TRegRoot::rrCurrentUser, kFileExts + "\\.png"), "Pictrel.png");
    EXPECT_EQ(Read(TRegRoot::rrCurrentUser, kFileExts + "\\.png", "Progid"), "Pictrel.png");
    EXPECT_EQ(Saved("png", "CU Name"), "UserName");
    UnregisterExtensions({"png"});
    EXPECT_EQ(Read(TRegRoot::rrCurrentUser, kFileExts + "\\.png"), "UserName");
    // An empty saved ProgID falls back to the class root's old value.
    EXPECT_EQ(Read(TRegRoot::rrCurrentUser, kFileExts + "\\.png", "Progid"), "Class.png");
}

TEST(FileAssociations, NeverRegisteredCreatesOnlyAnEmptyKey) {
    UnregisterExtensions({"abc"});
    EXPECT_TRUE(KeyExists(TRegRoot::rrClassesRoot, ".abc"));
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, ".abc"), "<no value>");
    EXPECT_FALSE(KeyExists(TRegRoot::rrClassesRoot, "Pictrel.abc"));
}

struct TIconCase {
    const char* Name;
    const char* Ext;
    const char* Icon;
};

class IconValueTest : public ::testing::TestWithParam<TIconCase> {};

TEST_P(IconValueTest, ChosenByTheExtensionsFamily) {
    EXPECT_EQ(IconValue("/p", GetParam().Ext), QString(GetParam().Icon));
}

INSTANTIATE_TEST_SUITE_P(
    Extensions, IconValueTest,
    ::testing::Values(TIconCase{"Bmp", "BMP", "/p,3"}, TIconCase{"Rle", "rle", "/p,3"},
                      TIconCase{"Gif", "gif", "/p,4"}, TIconCase{"Jpe", "jpe", "/p,6"},
                      TIconCase{"Png", "png", "/p,7"}, TIconCase{"Psd", "psd", "/p,8"},
                      TIconCase{"Tif", "tif", "/p,9"}, TIconCase{"Fax", "fax", "/p,9"},
                      TIconCase{"Slideshow", "VekSS", "/p,0"}, TIconCase{"Ico", "ico", "%1"},
                      TIconCase{"Xyz", "xyz", "/p,10"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(FileAssociations, OwnTypeOpensInTheSlideshow) {
    RegisterOwnType(kProgram);
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, ".VekSS"), "Pictrel.VekSS");
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "pictrel.vekss\\shell\\open\\command"),
              "\"/opt/Pictrel Dir/pictrel\" /slideshow \"%1\"");
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel.VekSS\\DefaultIcon"), kProgram + ",0");
    const QByteArray entry = FileText(Applications() + "pictrel-slideshow.desktop");
    EXPECT_TRUE(entry.contains("Exec=\"/opt/Pictrel Dir/pictrel\" /slideshow %f\n"))
        << entry.data();
    EXPECT_TRUE(entry.contains("MimeType=application/x-pictrel-slideshow;\n"));
    UnregisterOwnType();
    EXPECT_FALSE(KeyExists(TRegRoot::rrClassesRoot, "Pictrel.VekSS"));
    EXPECT_FALSE(QFile::exists(Applications() + "pictrel-slideshow.desktop"));
}

struct TMovedProgramCase {
    const char* Name;
    const char* Earlier; // registered first, from the old place
    const char* Later;   // registered afterwards, from the new place
};

class MovedProgramTest : public ::testing::TestWithParam<TMovedProgramCase> {};

// A program that was moved registers again: the desktop entries must launch it from
// where it is now, never from where an older registration said it was.
TEST_P(MovedProgramTest, EverythingNamesTheProgramThatRegisteredLast) {
    const QString oldProgram = "/old/place/pictrel";
    const QString newProgram = "/new/place/pictrel";
    RegisterOwnType(oldProgram);
    RegisterExtensions({GetParam().Earlier}, oldProgram);
    RegisterExtensions({GetParam().Later}, newProgram);

    const QByteArray viewer = FileText(Applications() + "pictrel.desktop");
    EXPECT_TRUE(viewer.contains("Exec=/new/place/pictrel /view %f\n")) << viewer.data();
    const QByteArray slideshow = FileText(Applications() + "pictrel-slideshow.desktop");
    EXPECT_TRUE(slideshow.contains("Exec=/new/place/pictrel /slideshow %f\n")) << slideshow.data();
    for (const QString ext : {GetParam().Earlier, GetParam().Later}) {
        EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel." + ext + "\\shell\\open\\command"),
                  "\"/new/place/pictrel\" /view \"%1\"");
        EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel." + ext + "\\DefaultIcon"),
                  IconValue(newProgram, ext));
    }
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel.VekSS\\shell\\open\\command"),
              "\"/new/place/pictrel\" /slideshow \"%1\"");
    EXPECT_EQ(Read(TRegRoot::rrClassesRoot, "Pictrel.VekSS\\DefaultIcon"), newProgram + ",0");

    // Unregistering one type leaves the others with the program that registered them.
    UnregisterExtensions({GetParam().Later});
    EXPECT_TRUE(FileText(Applications() + "pictrel.desktop")
                    .contains("Exec=/new/place/pictrel /view %f\n"));
    UnregisterExtensions({GetParam().Earlier});
    UnregisterOwnType();
}

INSTANTIATE_TEST_SUITE_P(Orders, MovedProgramTest,
                         ::testing::Values(TMovedProgramCase{"OlderKeyFirst", "bmp", "jpg"},
                                           TMovedProgramCase{"OlderKeyLast", "tif", "gif"},
                                           TMovedProgramCase{"IconFileType", "ico", "png"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FileAssociations, UnusableExtensionsStopTheRun) {
    EXPECT_THROW(RegisterExtensions({"ok1", "a\\b", "ok2"}, kProgram), ERegistryError);
    EXPECT_TRUE(KeyExists(TRegRoot::rrClassesRoot, "Pictrel.ok1"));
    EXPECT_FALSE(KeyExists(TRegRoot::rrClassesRoot, "Pictrel.ok2"));
    EXPECT_THROW(RegisterExtensions({""}, kProgram), ERegistryError);
}

TEST(FileAssociations, UnwritableStoreIsAnError) {
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const QString blocked = QDir::tempPath() + "/blocked-config";
    QDir().mkpath(blocked);
    QFile file(blocked + "/pictrel"); // a file where the folder should be
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_CONFIG_HOME", blocked.toLocal8Bit());
    EXPECT_THROW(RegisterExtensions({"tga"}, kProgram), ERegistryError);
    qputenv("XDG_CONFIG_HOME", config);
}

class XdgAssociationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (MimeTypeOfExtension("jpg") != "image/jpeg")
            GTEST_SKIP() << "the MIME database does not know .jpg";
    }
};

TEST_F(XdgAssociationsTest, DefaultIsTakenAndThePreviousPutBack) {
    TMimeAppsList apps;
    apps.Load(TMimeAppsList::DefaultFileName());
    apps.SetDefault("image/jpeg", "other-viewer.desktop;");
    apps.SetDefault("text/plain", "editor.desktop;");
    ASSERT_TRUE(apps.Save());

    RegisterExtensions({"jpg", "jpeg"}, kProgram);
    const QByteArray entry = FileText(Applications() + "pictrel.desktop");
    EXPECT_TRUE(entry.contains("Exec=\"/opt/Pictrel Dir/pictrel\" /view %f\n")) << entry.data();
    EXPECT_TRUE(entry.contains("MimeType=image/jpeg;\n")) << entry.data();
    apps.Load(TMimeAppsList::DefaultFileName());
    EXPECT_EQ(apps.Default("image/jpeg"), "pictrel.desktop;other-viewer.desktop;");
    EXPECT_EQ(Saved("jpg", "XDG default"), "other-viewer.desktop;");
    // The second extension of the type saved the user's default, not ours.
    EXPECT_EQ(Saved("jpeg", "XDG default"), "other-viewer.desktop;");

    UnregisterExtensions({"jpg"}); // jpeg still needs the default
    apps.Load(TMimeAppsList::DefaultFileName());
    EXPECT_EQ(TMimeAppsList::FirstId(apps.Default("image/jpeg")), "pictrel.desktop");
    UnregisterExtensions({"jpeg"});
    apps.Load(TMimeAppsList::DefaultFileName());
    EXPECT_EQ(apps.Default("image/jpeg"), "other-viewer.desktop;");
    EXPECT_EQ(apps.Default("text/plain"), "editor.desktop;");
    EXPECT_TRUE(FileText(Applications() + "pictrel.desktop").contains("MimeType=\n"));
}

TEST_F(XdgAssociationsTest, NoPreviousDefaultRemovesOurEntry) {
    RegisterExtensions({"png"}, kProgram);
    TMimeAppsList apps;
    apps.Load(TMimeAppsList::DefaultFileName());
    EXPECT_EQ(apps.Default("image/png"), "pictrel.desktop;");
    UnregisterExtensions({"png"});
    apps.Load(TMimeAppsList::DefaultFileName());
    EXPECT_EQ(apps.Default("image/png"), "");
    EXPECT_TRUE(FileText(TMimeAppsList::DefaultFileName()).contains("[Default Applications]"));
}

TEST(MimeAppsList, KeepsOtherSectionsAndLines) {
    const QString name = QDir::tempPath() + "/mimeapps.list";
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# comment\n[Added Associations]\nimage/png=a.desktop;\n\n"
               "[Default Applications]\nimage/png=b.desktop;\n\n[Removed Associations]\nx=y\n");
    file.close();
    TMimeAppsList apps;
    ASSERT_TRUE(apps.Load(name));
    EXPECT_EQ(apps.Default("image/png"), "b.desktop;");
    apps.SetDefault("image/gif", "c.desktop;");
    apps.SetDefault("image/png", "");
    ASSERT_TRUE(apps.Save());
    EXPECT_EQ(FileText(name), "# comment\n[Added Associations]\nimage/png=a.desktop;\n\n"
                              "[Default Applications]\nimage/gif=c.desktop;\n\n"
                              "[Removed Associations]\nx=y\n");
}

} // namespace
