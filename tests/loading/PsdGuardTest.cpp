#include "loading/PsdGuard.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& b, std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) b.push_back(std::uint8_t(v >> (8 * i)));
}

// A 4 x 2 RGB picture, 8 bits per sample; each channel row is given as PackBits data.
Bytes Psd(int compression, const std::vector<Bytes>& rows) {
    Bytes b = {'8', 'B', 'P', 'S'};
    Put(b, 1, 2);
    Put(b, 0, 6);
    Put(b, 3, 2); // channels
    Put(b, 2, 4); // height
    Put(b, 4, 4); // width
    Put(b, 8, 2); // depth
    Put(b, 3, 2); // RGB
    Put(b, 0, 4); // colour mode data
    Put(b, 0, 4); // image resources
    Put(b, 0, 4); // layers
    Put(b, compression, 2);
    if (compression == 1)
        for (const Bytes& r : rows) Put(b, r.size(), 2);
    for (const Bytes& r : rows) b.insert(b.end(), r.begin(), r.end());
    return b;
}

struct GuardCase {
    const char* Name;
    Bytes File;
    bool Sound;
};

const Bytes kLiteral = {3, 10, 20, 30, 40}; // four literal bytes
const Bytes kRepeat = {0xFD, 7};            // 7 repeated four times

std::vector<GuardCase> Cases() {
    const std::vector<Bytes> good(6, kLiteral);
    std::vector<Bytes> mixed = good;
    mixed[1] = kRepeat;
    std::vector<Bytes> crossing = good;
    crossing[2] = {0xFB, 7}; // six repeats in a four-byte row
    std::vector<Bytes> longLiteral = good;
    longLiteral[3] = {5, 1, 2, 3, 4, 5, 6};
    std::vector<Bytes> shortRow = good;
    shortRow[0] = {1, 10, 20}; // two bytes of four, then the data ends
    std::vector<Bytes> readsPastCount = good;
    readsPastCount[5] = {3, 10, 20};
    std::vector<Bytes> runAfterFull = good;
    runAfterFull[4] = {0xFD, 7, 0xFD, 7}; // the row is full after its first run
    std::vector<Bytes> literalAfterFull = good;
    literalAfterFull[1] = {3, 10, 20, 30, 40, 0, 9};
    std::vector<Bytes> paddedWithNoOps = good;
    paddedWithNoOps[2] = {0xFD, 7, 0x80};
    Bytes truncated = Psd(1, good);
    truncated.erase(truncated.end() - 3, truncated.end());
    Bytes raw = Psd(0, std::vector<Bytes>(6, Bytes{1, 2, 3, 4}));
    Bytes rawShort = raw;
    rawShort.pop_back();
    Bytes badSignature = Psd(1, good);
    badSignature[0] = 'X';
    return {{"Literal", Psd(1, good), true},
            {"LiteralAndRepeat", Psd(1, mixed), true},
            {"RepeatCrossesRowEnd", Psd(1, crossing), false},
            {"LiteralCrossesRowEnd", Psd(1, longLiteral), false},
            {"RowTooShort", Psd(1, shortRow), false},
            {"RunReadsPastItsCount", Psd(1, readsPastCount), false},
            // FreeImage would decode the rest of the row's bytes past its end.
            {"RunAfterTheRowIsFull", Psd(1, runAfterFull), false},
            {"LiteralAfterTheRowIsFull", Psd(1, literalAfterFull), false},
            {"RowPaddedWithNoOps", Psd(1, paddedWithNoOps), true},
            {"Truncated", truncated, false},
            {"Raw", raw, true},
            {"RawTruncated", rawShort, false},
            {"NotPsd", badSignature, false},
            {"Empty", {}, false}};
}

class PsdGuardTable : public ::testing::TestWithParam<GuardCase> {};

TEST_P(PsdGuardTable, JudgesData) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("t.psd");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(GetParam().File.data()), qint64(GetParam().File.size()));
    f.close();
    EXPECT_EQ(PsdDataIsSound(QFile::encodeName(path)), GetParam().Sound);
}

INSTANTIATE_TEST_SUITE_P(Files, PsdGuardTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PsdGuard, MissingFileIsNotSound) {
    EXPECT_FALSE(PsdDataIsSound(QByteArray("/nonexistent/x.psd")));
}

TEST(PsdGuard, FreeImageCrashersAreRefused) {
    QDir fixtures(QStringLiteral(PICTREL_LOADING_FIXTURES));
    const QStringList files = fixtures.entryList({"freeimage-crash-psd-*"}, QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files)
        EXPECT_FALSE(PsdDataIsSound(QFile::encodeName(fixtures.filePath(name))))
            << name.toStdString();
}

} // namespace
