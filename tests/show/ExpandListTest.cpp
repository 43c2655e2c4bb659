// Expanding the picture and music lists into files.
#include "show/VekSettingsFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

const QString kImageExtensions = QStringLiteral("bmp,gif,jpg,jpeg,jpe,png,tif,tiff");

class ExpandTest : public ::testing::Test {
protected:
    void SetUp() override {
        Folder = Dir.filePath(QStringLiteral("pictures"));
        QDir().mkpath(Folder + QStringLiteral("/sub"));
        for (const char* name : {"a.jpg", "b.PNG", "c.txt", ".hidden.gif", "noext", "sub/d.jpg"}) {
            QFile f(Folder + u'/' + QString::fromUtf8(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }
    QTemporaryDir Dir;
    QString Folder;
};

TEST_F(ExpandTest, FoldersExpandOneLevelFilesPassByExtension) {
    TVekSettingsFile s;
    s.ImageList = {Folder, QStringLiteral("/nowhere/x.JPEG"), QStringLiteral("/nowhere/y.doc"),
                   QStringLiteral("/nowhere/z.pe")};
    QStringList files = {QStringLiteral("stale")};
    s.GetImageFiles(files, true, kImageExtensions);
    // The folder's files come in file-system order; the rest follow in list order.
    // "pe" is only a part of the listed "jpe", so z.pe stays out.
    ASSERT_EQ(files.size(), 4);
    const QStringList fromFolder = files.mid(0, 3);
    EXPECT_EQ(QSet<QString>(fromFolder.begin(), fromFolder.end()),
              (QSet<QString>{Folder + "/a.jpg", Folder + "/b.PNG", Folder + "/.hidden.gif"}));
    EXPECT_EQ(files.mid(3), (QStringList{"/nowhere/x.JPEG"}));

    s.GetImageFiles(files, false, kImageExtensions);
    EXPECT_EQ(files, (QStringList{"/nowhere/x.JPEG"}));
}

TEST_F(ExpandTest, MusicMatchesWholeEntriesOfTheSet) {
    TVekSettingsFile s;
    s.MusicList = {QStringLiteral("/m/song.MP3"), QStringLiteral("/m/odd.av"),
                   QStringLiteral("/m/x.ogg"),    QStringLiteral("/m/y.wav"),
                   QStringLiteral("/m/noext"),    Folder};
    QStringList files;
    s.GetMusicFiles(files, false);
    EXPECT_EQ(files, (QStringList{"/m/song.MP3", "/m/y.wav"}));
}

} // namespace
