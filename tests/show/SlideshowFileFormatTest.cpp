// The slideshow file as written: every header field, read from the file's bytes.
#include "ArchiveTestSupport.h"

#include "show/TransformerByName.h"
#include "show/VekSettingsFile.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QProcess>
#include <QStandardPaths>

#include <zlib.h>

namespace {

using namespace archive_test;

// Raw deflate (method 8) with zlib: level 1 to compare, or inflate to read back.
QByteArray Deflate1(const QByteArray& data) {
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray Inflate(const QByteArray& packed, qsizetype size) {
    QByteArray out(size, '\0');
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    z.avail_in = uInt(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int result = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return result == Z_STREAM_END ? out : QByteArray("<inflate failed>");
}

class SlideshowFile : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString Path(const char* name) const { return Dir.filePath(QString::fromUtf8(name)); }
};

TEST_F(SlideshowFile, HeadersAreExactlyAsDefined) {
    TVekSettingsFile show;
    show.ImageList = {QStringLiteral("/pictures/a.jpg"), QStringLiteral("/pictures/Ünïcode")};
    show.Shuffle = true;
    const QString path = Path("show.VekSS");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-3);
    show.SaveToFile(path);
    const QDateTime after = QDateTime::currentDateTime().addSecs(3);

    const QByteArray b = ReadBytes(path);
    const std::pair<QByteArray, QByteArray> expected[] = {
        {"ImageList", QStringLiteral("/pictures/a.jpg\r\n/pictures/Ünïcode\r\n").toUtf8()},
        {"MusicList", QByteArray()},
        {"Settings", "Delay=5000\r\nTransformer=Blend\r\nShuffle=-1\r\nRepeat all=0\r\n"},
    };
    ASSERT_GE(b.size(), 22);
    const qsizetype end = b.size() - 22; // no archive comment: the record ends the file
    ASSERT_EQ(U32(b, end), 0x06054B50u);
    EXPECT_EQ(U32(b, end + 4), 0u); // disk numbers
    EXPECT_EQ(U16(b, end + 8), 3u); // entries on this disk
    EXPECT_EQ(U16(b, end + 10), 3u);
    EXPECT_EQ(U16(b, end + 20), 0u); // comment length
    EXPECT_EQ(U32(b, end + 16) + U32(b, end + 12), std::uint32_t(end));

    qsizetype local = 0, central = U32(b, end + 16);
    for (const auto& [name, text] : expected) {
        SCOPED_TRACE(name.toStdString());
        const unsigned method = text.isEmpty() ? 0 : 8;
        const std::uint32_t crc =
            crc32(0, reinterpret_cast<const Bytef*>(text.constData()), uInt(text.size()));
        const QByteArray packed = method == 0 ? text : Deflate1(text);
        // Local header: signature, version needed 20, flags 0, method, time, date, CRC,
        // sizes, name length, no extra field, the name, the data.
        ASSERT_EQ(U32(b, local), 0x04034B50u);
        EXPECT_EQ(U16(b, local + 4), 20u);
        EXPECT_EQ(U16(b, local + 6), 0u);
        EXPECT_EQ(U16(b, local + 8), method);
        const unsigned time = U16(b, local + 10), date = U16(b, local + 12);
        const QDateTime stamp(QDate(1980 + int(date >> 9), int(date >> 5 & 15), int(date & 31)),
                              QTime(int(time >> 11), int(time >> 5 & 63), int(time & 31) * 2));
        EXPECT_TRUE(stamp >= before && stamp <= after) << stamp.toString().toStdString();
        EXPECT_EQ(U32(b, local + 14), crc);
        EXPECT_EQ(U32(b, local + 18), std::uint32_t(packed.size()));
        EXPECT_EQ(U32(b, local + 22), std::uint32_t(text.size()));
        EXPECT_EQ(U16(b, local + 26), unsigned(name.size()));
        EXPECT_EQ(U16(b, local + 28), 0u);
        EXPECT_EQ(b.mid(local + 30, name.size()), name);
        const QByteArray data = b.mid(local + 30 + name.size(), packed.size());
        EXPECT_EQ(data, packed); // deflated at level 1, or stored when empty
        if (method == 8) {
            EXPECT_EQ(Inflate(data, text.size()), text);
        }

        // Central header: version made by 20, version needed 20, the same fields, no
        // extra field or comment, disk 0, internal attributes 0, external attributes
        // of a freshly written file (archive), the local header's offset, the name.
        ASSERT_EQ(U32(b, central), 0x02014B50u);
        EXPECT_EQ(U16(b, central + 4), 20u);
        EXPECT_EQ(U16(b, central + 6), 20u);
        EXPECT_EQ(b.mid(central + 8, 22), b.mid(local + 6, 22)); // flags ... name length
        EXPECT_EQ(U32(b, central + 30), 0u);                     // extra, comment lengths
        EXPECT_EQ(U32(b, central + 34), 0u);                     // disk, internal attributes
        EXPECT_EQ(U32(b, central + 38), 0x20u);
        EXPECT_EQ(U32(b, central + 42), std::uint32_t(local));
        EXPECT_EQ(b.mid(central + 46, name.size()), name);
        local += 30 + name.size() + packed.size();
        central += 46 + name.size();
    }
    EXPECT_EQ(local, qsizetype(U32(b, end + 16))); // the central directory follows at once
    EXPECT_EQ(central, end);
}

TEST_F(SlideshowFile, RoundTripReplacingAnExistingFile) {
    const QString path = Path("round.VekSS");
    ASSERT_TRUE(WriteBytes(path, QByteArray(10000, 'x')));
    TVekSettingsFile show;
    show.ImageList = {QStringLiteral("/a/b c.jpg"), QStringLiteral("/fotos/ünï"), QString()};
    show.MusicList = {QStringLiteral("/music/x.mp3")};
    show.Transformer = TransformerByName(QStringLiteral("Rain"));
    show.Delay = 1234;
    show.RepeatAll = true;
    show.SaveToFile(path);
    show.SaveToFile(QString()); // does nothing

    TVekSettingsFile loaded;
    loaded.Shuffle = true;
    ASSERT_TRUE(loaded.LoadFromFile(path));
    EXPECT_EQ(loaded.ImageList, show.ImageList);
    EXPECT_EQ(loaded.MusicList, show.MusicList);
    EXPECT_EQ(loaded.Transformer->Name, QStringLiteral("Rain"));
    EXPECT_EQ(loaded.Delay, 1234);
    EXPECT_FALSE(loaded.Shuffle);
    EXPECT_TRUE(loaded.RepeatAll);
}

TEST_F(SlideshowFile, EmptyListsAreStoredEmptyAndLoadEmpty) {
    const QString path = Path("empty.VekSS");
    TVekSettingsFile().SaveToFile(path);
    const QByteArray b = ReadBytes(path);
    for (qsizetype local : {qsizetype(0), qsizetype(30 + 9)}) { // ImageList, MusicList
        ASSERT_EQ(U32(b, local), 0x04034B50u);
        EXPECT_EQ(U16(b, local + 8), 0u);  // stored
        EXPECT_EQ(U32(b, local + 18), 0u); // no data
        EXPECT_EQ(U32(b, local + 22), 0u);
    }
    TVekSettingsFile loaded;
    loaded.ImageList = {QStringLiteral("stale")};
    ASSERT_TRUE(loaded.LoadFromFile(path));
    EXPECT_TRUE(loaded.ImageList.isEmpty());
    EXPECT_TRUE(loaded.MusicList.isEmpty());
}

TEST_F(SlideshowFile, UnzipAcceptsIt) {
    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    if (unzip.isEmpty()) GTEST_SKIP() << "unzip is not installed";
    TVekSettingsFile show;
    show.ImageList = {QStringLiteral("/a.jpg"), QStringLiteral("/b.png")};
    const QString path = Path("check.VekSS");
    show.SaveToFile(path);
    QProcess process;
    process.start(unzip, {QStringLiteral("-t"), path});
    ASSERT_TRUE(process.waitForFinished(30000));
    const QByteArray output = process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("No errors detected")) << output.toStdString();
}

} // namespace
