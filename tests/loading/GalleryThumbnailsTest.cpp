// The grid's thumbnails: made once, then read back from the desktop's shared cache while
// the file is unchanged; a stale entry is made again; a file that is no picture gets the
// standard's failure mark.

#include "loading/GalleryThumbnails.h"
#include "LoadingTestSupport.h"
#include "loading/FreeImageSetup.h"
#include "loading/ShellThumbnail.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>

namespace {

using namespace pictrel::test;

class GalleryThumbnails : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureFreeImage();
        m_cache = qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails";
        ASSERT_FALSE(m_cache.startsWith("/thumbnails"));
        QDir(m_cache).removeRecursively();
    }
    void TearDown() override { QDir(m_cache).removeRecursively(); }

    QString Picture(const QString& name, int w, int h, FREE_IMAGE_FORMAT fif) {
        const TFreeImagePtr dib = MakePattern(w, h);
        return Save(dib.get(), fif, m_dir.path() + u'/' + name, fif == FIF_JPEG ? 90 : 0);
    }
    QString Entry(const QString& folder, const QString& file) const {
        return m_cache + u'/' + folder + u'/' + ThumbnailCacheName(file);
    }

    QTemporaryDir m_dir;
    QString m_cache;
    const std::atomic<bool> m_go{false};
};

TEST(GalleryThumbnailClass, SmallestClassThatHoldsTheCell) {
    const std::pair<int, int> cases[] = {{1, 128},   {128, 128},  {129, 256},  {256, 256},
                                         {512, 512}, {600, 1024}, {5000, 1024}};
    for (const auto& [side, expected] : cases)
        EXPECT_EQ(ThumbnailClassSide(side), expected) << side;
}

struct TMadeCase {
    const char* Name;
    FREE_IMAGE_FORMAT Format;
    int Width, Height, Cell;
    const char* Folder;
    QSize Expected;
};

class GalleryThumbnailMade : public GalleryThumbnails,
                             public ::testing::WithParamInterface<TMadeCase> {};

TEST_P(GalleryThumbnailMade, DecodedOnceThenReadFromTheCache) {
    const TMadeCase& c = GetParam();
    const QString file = Picture(c.Name, c.Width, c.Height, c.Format);
    const TGalleryThumbnail made = MakeGalleryThumbnail(file, c.Cell, m_go);
    ASSERT_EQ(made.Source, TThumbnailSource::tsDecoded);
    EXPECT_EQ(made.Picture.size(), c.Expected);

    const QString entry = Entry(c.Folder, file);
    const QImage stored(entry, "png");
    ASSERT_FALSE(stored.isNull()) << entry.toStdString();
    EXPECT_EQ(stored.size(), c.Expected);
    EXPECT_EQ(stored.text("Thumb::URI"), QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded));
    EXPECT_EQ(stored.text("Thumb::MTime").toLongLong(),
              QFileInfo(file).lastModified().toSecsSinceEpoch());
    EXPECT_EQ(stored.text("Thumb::Size").toLongLong(), QFileInfo(file).size());
    EXPECT_EQ(QFile::permissions(entry) & 0x0077, 0) << "only the owner's";
    EXPECT_EQ(QFile::permissions(QFileInfo(entry).absolutePath()) & 0x0077, 0);

    const TGalleryThumbnail again = MakeGalleryThumbnail(file, c.Cell, m_go);
    EXPECT_EQ(again.Source, TThumbnailSource::tsCache);
    EXPECT_EQ(again.Picture.size(), c.Expected);
    EXPECT_EQ(again.Picture.pixel(again.Picture.width() / 2, again.Picture.height() / 2),
              made.Picture.pixel(made.Picture.width() / 2, made.Picture.height() / 2));
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, GalleryThumbnailMade,
    ::testing::Values(TMadeCase{"wide.jpg", FIF_JPEG, 1200, 800, 256, "large", {256, 170}},
                      TMadeCase{"tall.png", FIF_PNG, 300, 900, 200, "large", {85, 256}},
                      TMadeCase{"small.png", FIF_PNG, 100, 50, 128, "normal", {100, 50}},
                      TMadeCase{"hidpi.jpg", FIF_JPEG, 2000, 1000, 600, "xx-large", {1024, 512}}),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(GalleryThumbnails, AChangedFileIsMadeAgain) {
    const QString file = Picture("a.jpg", 640, 480, FIF_JPEG);
    ASSERT_EQ(MakeGalleryThumbnail(file, 128, m_go).Source, TThumbnailSource::tsDecoded);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_EQ(MakeGalleryThumbnail(file, 128, m_go).Source, TThumbnailSource::tsDecoded);
    EXPECT_EQ(MakeGalleryThumbnail(file, 128, m_go).Source, TThumbnailSource::tsCache);
}

TEST_F(GalleryThumbnails, ALargerClassServesASmallerCell) {
    const QString file = Picture("b.jpg", 1600, 1200, FIF_JPEG);
    ASSERT_EQ(MakeGalleryThumbnail(file, 512, m_go).Source, TThumbnailSource::tsDecoded);
    const TGalleryThumbnail small = MakeGalleryThumbnail(file, 128, m_go);
    EXPECT_EQ(small.Source, TThumbnailSource::tsCache);
    EXPECT_EQ(small.Picture.size(), QSize(128, 96));
}

TEST_F(GalleryThumbnails, ANonPictureGetsTheFailureMark) {
    const QString file = m_dir.path() + "/broken.jpg";
    WriteFile(file, QByteArray("\xFF\xD8\xFF") + QByteArray(" not really a photo"));
    const TGalleryThumbnail made = MakeGalleryThumbnail(file, 256, m_go);
    EXPECT_EQ(made.Source, TThumbnailSource::tsNone);
    EXPECT_TRUE(made.Picture.isNull());
    const QStringList marks = QDir(m_cache + "/fail").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(marks.size(), 1);
    EXPECT_TRUE(marks[0].startsWith("pictrel-"));
    EXPECT_TRUE(QFile::exists(Entry("fail/" + marks[0], file)));
    EXPECT_FALSE(QFile::exists(Entry("large", file)));
}

TEST_F(GalleryThumbnails, AStoppedRequestWritesNothing) {
    const QString file = Picture("c.jpg", 640, 480, FIF_JPEG);
    const std::atomic<bool> stop{true};
    EXPECT_EQ(MakeGalleryThumbnail(file, 256, stop).Source, TThumbnailSource::tsNone);
    EXPECT_FALSE(QDir(m_cache).exists());
}

} // namespace
