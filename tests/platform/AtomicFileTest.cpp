#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST(AtomicFile, WritesReplacesAndCreatesFolders) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/a/b/settings.txt";
    ASSERT_TRUE(WriteFileAtomically(path, "first"));
    EXPECT_EQ(Read(path), "first");
    ASSERT_TRUE(WriteFileAtomically(path, "second, longer"));
    EXPECT_EQ(Read(path), "second, longer");
    ASSERT_TRUE(WriteFileAtomically(path, QByteArray()));
    EXPECT_EQ(Read(path), QByteArray());
    // Nothing of the temporary files is left beside it.
    EXPECT_EQ(QDir(dir.path() + "/a/b").entryList(QDir::Files | QDir::Hidden),
              QStringList{"settings.txt"});
}

TEST(AtomicFile, FailureSaysWhyAndKeepsWhatWasThere) {
    QTemporaryDir dir;
    // A folder stands where the file should go.
    const QString path = dir.path() + "/taken";
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken"));
    QString why;
    EXPECT_FALSE(WriteFileAtomically(path, "data", &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_FALSE(WriteFileAtomically(path, "data")); // without a reason wanted
}

} // namespace
