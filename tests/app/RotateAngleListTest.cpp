#include "app/RotateAngleList.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString TempFile(const char* name) {
    return QDir::tempPath() + '/' + name;
}

void Write(const QString& name, const QByteArray& text) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(RotateAngleList, NamesIgnoreCaseAndTheFirstLineWins) {
    const QString name = TempFile("RotateAngles");
    Write(name, "/pics/A.jpg=90\r\n/PICS/a.JPG=180\r\n/pics/b.jpg=270\n");
    TRotateAngleList list;
    ASSERT_TRUE(list.LoadFromFile(name));
    EXPECT_EQ(list.Angle("/pics/a.jpg"), 90);
    EXPECT_EQ(list.Angle("/PICS/B.JPG"), 270);
    EXPECT_EQ(list.Angle("/pics/c.jpg"), 0);
    list.SetAngle("/Pics/a.jpg", -90);
    EXPECT_EQ(list.Angle("/pics/A.jpg"), -90);
    EXPECT_EQ(list.Count(), 3); // replaced, not appended
}

TEST(RotateAngleList, WritesCrLfLinesAndReadsThemBack) {
    const QString name = TempFile("RotateAnglesOut");
    TRotateAngleList list;
    list.SetAngle(QString::fromUtf8("/home/ü/with space.jpg"), 90);
    list.SetAngle("/a=b/c.jpg", 180);
    ASSERT_TRUE(list.SaveToFile(name));
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              QString::fromUtf8("/home/ü/with space.jpg=90\r\n/a=b/c.jpg=180\r\n").toUtf8());
    TRotateAngleList again;
    ASSERT_TRUE(again.LoadFromFile(name));
    EXPECT_EQ(again.Angle(QString::fromUtf8("/HOME/Ü/with space.jpg")), 90);
    EXPECT_EQ(again.Angle("/a=b/c.jpg"), 180);
}

TEST(RotateAngleList, GarbageLinesReadAsZeroOrAreDropped) {
    const QString name = TempFile("RotateAnglesBad");
    Write(name, QByteArray("no equals sign\r\n=90\r\n/x.jpg=ninety\r\n/y.jpg=\r\n/z.jpg= 90 \r\n") +
                    QByteArray("\x00\xff\xfe", 3) + "=12\r\n/w.jpg=99999999999999999999\r\n");
    TRotateAngleList list;
    ASSERT_TRUE(list.LoadFromFile(name));
    EXPECT_EQ(list.Angle("/x.jpg"), 0);
    EXPECT_EQ(list.Angle("/y.jpg"), 0);
    EXPECT_EQ(list.Angle("/z.jpg"), 90);
    EXPECT_EQ(list.Angle("/w.jpg"), 0);
    EXPECT_FALSE(list.Contains("no equals sign"));
    // An unreadable value is kept as it was when the file is written again.
    ASSERT_TRUE(list.SaveToFile(name));
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("/x.jpg=ninety\r\n"));
}

TEST(RotateAngleList, MissingFileIsEmptyAndEmptyListIsWritten) {
    TRotateAngleList list;
    EXPECT_FALSE(list.LoadFromFile(TempFile("does-not-exist")));
    EXPECT_EQ(list.Count(), 0);
    const QString name = TempFile("RotateAnglesEmpty");
    ASSERT_TRUE(list.SaveToFile(name));
    EXPECT_TRUE(QFile::exists(name));
    EXPECT_EQ(QFileInfo(name).size(), 0);
}

// Two processes turning pictures: each turn is written at once and merged into the
// file as it is, so neither loses the other's turns, and the file is private.
TEST(RotateAngleList, TurnsOfTwoProcessesAreStoredAtOnceAndBothKept) {
    const QString file = TempFile("merged-angles");
    QFile::remove(file);
    TRotateAngleList first, second;
    first.LoadFromFile(file);
    second.LoadFromFile(file);
    ASSERT_TRUE(first.StoreAngle(file, "/p/a.jpg", 90));
    ASSERT_TRUE(second.StoreAngle(file, "/p/b.jpg", -90));
    ASSERT_TRUE(first.StoreAngle(file, "/p/c.jpg", 180));
    TRotateAngleList stored;
    ASSERT_TRUE(stored.LoadFromFile(file));
    EXPECT_EQ(stored.Angle("/p/a.jpg"), 90);
    EXPECT_EQ(stored.Angle("/p/b.jpg"), -90);
    EXPECT_EQ(stored.Angle("/p/c.jpg"), 180);
    // The other process's turns are known after the next store.
    EXPECT_EQ(first.Angle("/p/b.jpg"), -90);
    EXPECT_EQ(QFileInfo(file).permissions() &
                  (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther),
              QFileDevice::Permissions());
}

TEST(RotateAngleList, NamesWithLineBreaksAreRefused) {
    TRotateAngleList list;
    EXPECT_FALSE(list.SetAngle("/a\r\n/b.jpg", 90));
    EXPECT_FALSE(list.SetAngle("", 90));
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
