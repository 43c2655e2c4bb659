#include "LoadingTestSupport.h"

#include "common/TestSupport.h"
#include "loading/DecoderPool.h"
#include "loading/DecoderProtocol.h"
#include "loading/DecoderSandbox.h"
#include "loading/DecoderService.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

using namespace pictrel::test;
using enum TImageLoaderProStatus;

namespace {

// Every loader test of this program goes through this build's decoder helper, unless
// PICTREL_DECODE_IN_PROCESS=1 keeps the decoding in-process.
class DecoderHelperEnvironment : public ::testing::Environment {
public:
    void SetUp() override { TDecoderPool::Instance().SetProgram(PICTREL_DECODER_PATH); }
};
const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new DecoderHelperEnvironment);

struct TSocketPair {
    TSocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fd), 0); }
    ~TSocketPair() {
        ::close(Fd[0]);
        ::close(Fd[1]);
    }
    int Fd[2] = {-1, -1};
};

TEST(DecoderProtocol, AnOrderArrivesWithItsSettingsAndItsFile) {
    TSocketPair pair;
    TDecodeOrder order;
    order.Request.FileName = QStringLiteral("/photos/été.jpg");
    order.Request.PageIndex = 3;
    order.Request.CombineAlpha = true;
    order.Request.Quick.Width = 800;
    order.Request.Quick.Height = 600;
    order.Request.Settings.Temperature = 4321;
    order.Request.Settings.Curve = {{0, 10}, {128, 140}, {255, 250}};
    order.Request.Settings.ExifOrientation = false;
    order.QuickLook = true;
    order.DisplayProfile = QByteArray("profile bytes");
    order.AvailableMemory = 123456789;
    order.Sequence = 42;
    const int file = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(
        SendDecoderMessage(pair.Fd[0], TDecoderMessage::dmRequest, EncodeDecodeOrder(order), file));
    ::close(file);

    TDecoderEnvelope message;
    ASSERT_TRUE(ReceiveDecoderMessage(pair.Fd[1], message));
    EXPECT_EQ(message.Kind, TDecoderMessage::dmRequest);
    ASSERT_GE(message.Fd, 0);
    char magic[4] = {};
    EXPECT_EQ(::read(message.Fd, magic, 4), 4);
    EXPECT_EQ(QByteArray(magic, 4), QByteArray("\x7f"
                                               "ELF"));
    ::close(message.Fd);
    TDecodeOrder back;
    ASSERT_TRUE(ParseDecodeOrder(message.Body, back));
    EXPECT_EQ(back.Request.FileName, order.Request.FileName);
    EXPECT_EQ(back.Request.PageIndex, 3);
    EXPECT_TRUE(back.Request.CombineAlpha);
    EXPECT_EQ(back.Request.Quick.Width, 800);
    EXPECT_EQ(back.Request.Quick.Height, 600);
    EXPECT_TRUE(back.Request.Settings == order.Request.Settings);
    EXPECT_TRUE(back.QuickLook);
    EXPECT_EQ(back.DisplayProfile, order.DisplayProfile);
    EXPECT_EQ(back.AvailableMemory, 123456789u);
    EXPECT_EQ(back.Sequence, 42);
    // A cut body is refused, not half read.
    EXPECT_FALSE(ParseDecodeOrder(message.Body.left(message.Body.size() - 3), back));
}

TEST(DecoderProtocol, AResultArrivesWithItsListsAndItsPixelsUncopied) {
    TSocketPair pair;
    TImageLoadResult result;
    result.Status = ilSucces;
    result.HasAlpha = true;
    result.ImageKind = TVekImageKind::ikPng;
    result.ImageFormat = FIF_PNG;
    result.PageCount = 1;
    result.ExifList = {"Make: Test;"};
    result.IptcList = {"Caption: a;", "Keywords: b;"};
    result.XmpList = {"XMLPacket: <x/>;"};
    result.GeoTiffList = {};
    result.InfoList = {"Width: 1200;", "Height: 900;"};
    result.IccProfile = QByteArray(3000, 'p');
    // Large enough to live in shared memory, as the helper's pictures do (this process's
    // large bitmaps do so from here on).
    UseSharedBitmapMemory();
    TBitmap32 picture(1200, 900);
    ASSERT_GE(SharedPixelsFd(picture.Bits()), 0);
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            picture.SetPixel(x, y, TColor32(0x80000000u | (x * 7 + y * 13)));
    const int fd = PixelsToSharedMemory(picture);
    ASSERT_GE(fd, 0);
    const TPixelsHeader header{picture.Width(), picture.Height(), false};
    ASSERT_TRUE(SendDecoderMessage(pair.Fd[0], TDecoderMessage::dmResult,
                                   EncodeDecodeResult(result, header, "why"), fd));
    ::close(fd);

    TDecoderEnvelope message;
    ASSERT_TRUE(ReceiveDecoderMessage(pair.Fd[1], message));
    TImageLoadResult back;
    TPixelsHeader pixels;
    QString reason;
    ASSERT_TRUE(ParseDecodeResult(message.Body, back, pixels, reason));
    EXPECT_EQ(back.Status, ilSucces);
    EXPECT_TRUE(back.HasAlpha);
    EXPECT_EQ(back.ImageKind, TVekImageKind::ikPng);
    EXPECT_EQ(back.ImageFormat, FIF_PNG);
    EXPECT_EQ(back.PageCount, std::optional<int>(1));
    EXPECT_EQ(back.ExifList, result.ExifList);
    EXPECT_EQ(back.IptcList, result.IptcList);
    EXPECT_EQ(back.XmpList, result.XmpList);
    EXPECT_TRUE(back.GeoTiffList.isEmpty());
    EXPECT_EQ(back.InfoList, result.InfoList);
    EXPECT_EQ(back.IccProfile, result.IccProfile);
    EXPECT_EQ(reason, "why");
    ASSERT_TRUE(AdoptSharedPixels(message.Fd, pixels, back.Bitmap));
    EXPECT_TRUE(SamePixels(back.Bitmap, picture));
    EXPECT_FALSE(back.Bitmap.IsOpaque());
    // The same memory, not a copy: a write on one side shows on the other.
    picture.SetPixel(5, 5, 0xFF123456u);
    EXPECT_EQ(back.Bitmap.Pixel(5, 5), 0xFF123456u);
}

// What a helper taken over by a hostile file might send: each field out of its range.
struct TBadResultCase {
    const char* Name;
    quint8 Status, Kind;
    qint32 Format, PageCount, Width, Height;
};

void PrintTo(const TBadResultCase& c, std::ostream* os) {
    *os << c.Name;
}

class BadResult : public ::testing::TestWithParam<TBadResultCase> {};

TEST_P(BadResult, IsRefused) {
    const TBadResultCase& c = GetParam();
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << c.Status << false << c.Kind << c.Format << qint32(0) << true << c.PageCount
        << QStringList() << QStringList() << QStringList() << QStringList() << QStringList()
        << QByteArray() << c.Width << c.Height << qint8(-1) << QString();
    TImageLoadResult result;
    TPixelsHeader pixels;
    QString reason;
    EXPECT_FALSE(ParseDecodeResult(body, result, pixels, reason));
    // The same body with every field in range is taken, so the refusal is the field's.
    QByteArray good;
    QDataStream ok(&good, QIODevice::WriteOnly);
    ok.setVersion(QDataStream::Qt_6_4);
    ok << quint8(3) << false << quint8(5) << qint32(13) << qint32(0) << true << qint32(1)
       << QStringList() << QStringList() << QStringList() << QStringList() << QStringList()
       << QByteArray() << qint32(10) << qint32(10) << qint8(-1) << QString();
    EXPECT_TRUE(ParseDecodeResult(good, result, pixels, reason));
}

INSTANTIATE_TEST_SUITE_P(DecoderProtocol, BadResult,
                         ::testing::Values(TBadResultCase{"Status", 9, 5, 13, 1, 10, 10},
                                           TBadResultCase{"Kind", 3, 11, 13, 1, 10, 10},
                                           TBadResultCase{"FormatBelowUnknown", 3, 5, -2, 1, 10,
                                                          10},
                                           TBadResultCase{"FormatHuge", 3, 5, 100000, 1, 10, 10},
                                           TBadResultCase{"NoPages", 3, 5, 13, 0, 10, 10},
                                           TBadResultCase{"NegativeWidth", 3, 5, 13, 1, -1, 10},
                                           TBadResultCase{"NegativeHeight", 3, 5, 13, 1, 10, -5}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DecoderProtocol, APictureAboveTheSizeCapsIsNotMapped) {
    TBitmap32 small(4, 4);
    const int fd = PixelsToSharedMemory(small);
    ASSERT_GE(fd, 0);
    TBitmap32 target;
    // Claims far more than the memory holds, and more than any picture may have.
    EXPECT_FALSE(AdoptSharedPixels(fd, {1 << 21, 4, std::nullopt}, target));
    EXPECT_TRUE(target.Empty());
}

TEST(DecoderProtocol, UnsealedOrShortPixelMemoryIsRefused) {
    TBitmap32 target;
    const TPixelsHeader header{100, 100, std::nullopt};
    // Could shrink under the mapping later.
    const int unsealed = ::memfd_create("test", MFD_CLOEXEC);
    ASSERT_EQ(::ftruncate(unsealed, 100 * 100 * 4), 0);
    EXPECT_FALSE(AdoptSharedPixels(unsealed, header, target));
    // Sealed, but smaller than the header claims.
    const int shortFd = ::memfd_create("test", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    ASSERT_EQ(::ftruncate(shortFd, 100 * 99 * 4), 0);
    ASSERT_EQ(::fcntl(shortFd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW), 0);
    EXPECT_FALSE(AdoptSharedPixels(shortFd, header, target));
    EXPECT_TRUE(target.Empty());
    EXPECT_FALSE(AdoptSharedPixels(-1, header, target));
}

TEST(DecoderProtocol, AMessageOfUnknownKindOrTooLongIsRefused) {
    TSocketPair pair;
    const std::uint32_t bogus[2] = {0x12345678u, 4};
    ASSERT_EQ(::write(pair.Fd[0], bogus, sizeof bogus), ssize_t(sizeof bogus));
    TDecoderEnvelope message;
    EXPECT_FALSE(ReceiveDecoderMessage(pair.Fd[1], message));
    const std::uint32_t huge[2] = {std::uint32_t(TDecoderMessage::dmResult),
                                   kMaxDecoderMessageBody + 1};
    ASSERT_EQ(::write(pair.Fd[0], huge, sizeof huge), ssize_t(sizeof huge));
    EXPECT_FALSE(ReceiveDecoderMessage(pair.Fd[1], message));
}

// What a sandboxed child found; each bit a check that went as it should.
enum : int {
    kOtherFileRefused = 1,
    kGrantedFileRead = 2,
    kSocketRefused = 4,
    kGrantedFileStated = 8,
    kWriteElsewhereRefused = 16
};

TEST(DecoderSandbox, OnlyTheGrantedFileOpensAfterTheFilter) {
    QTemporaryDir dir;
    const QString granted = dir.path() + "/granted.bin";
    const QString other = dir.path() + "/other.bin";
    WriteFile(granted, "granted");
    WriteFile(other, "other");
    const QByteArray grantedPath = QFile::encodeName(granted);
    const QByteArray otherPath = QFile::encodeName(other);
    const int grantedFd = ::open(grantedPath.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(grantedFd, 0);
    TSocketPair pair;
    int pipeFds[2] = {-1, -1};
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QString error;
        GrantDecoderFile(grantedPath, grantedFd);
        if (!EnterDecoderSandbox(pair.Fd[1], 0, error)) std::_Exit(100);
        int found = 0;
        const int o = ::open(otherPath.constData(), O_RDONLY);
        if (o < 0 && errno == EACCES) found |= kOtherFileRefused;
        const int g = ::open(grantedPath.constData(), O_RDONLY);
        char text[8] = {};
        if (g >= 0 && ::read(g, text, 7) == 7 && std::strcmp(text, "granted") == 0)
            found |= kGrantedFileRead;
        if (::socket(AF_INET, SOCK_STREAM, 0) < 0) found |= kSocketRefused;
        struct stat st {};
        if (::stat(grantedPath.constData(), &st) == 0 && st.st_size == 7)
            found |= kGrantedFileStated;
        if (::write(pipeFds[1], "x", 1) < 0 && errno == EPERM) found |= kWriteElsewhereRefused;
        std::_Exit(found);
    }
    ::close(grantedFd);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    ASSERT_NE(WEXITSTATUS(status), 100) << "the sandbox could not be entered";
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers write into pipes of their own: writing stays open in their builds.
    const int expected = kOtherFileRefused | kGrantedFileRead | kSocketRefused | kGrantedFileStated;
#else
    const int expected = kOtherFileRefused | kGrantedFileRead | kSocketRefused |
                         kGrantedFileStated | kWriteElsewhereRefused;
#endif
    EXPECT_EQ(WEXITSTATUS(status), expected);
}

// Pictures decoded in the helper and in-process give the same result.
struct TIsolatedCase {
    const char* Name;
    FREE_IMAGE_FORMAT Format; // FIF_UNKNOWN: a committed fixture named Name
    bool Alpha;
};

void PrintTo(const TIsolatedCase& c, std::ostream* os) {
    *os << c.Name;
}

class Isolation : public ::testing::Test {
protected:
    void TearDown() override {
        ::unsetenv("PICTREL_DECODER_FAULT");
        TDecoderPool::Instance().SetTimes({});
        TDecoderPool::Instance().SetProgram(PICTREL_DECODER_PATH);
    }
    QString Path(const QString& name) const { return m_dir.path() + "/" + name; }
    QString MakeFile(const TIsolatedCase& c) {
        if (c.Format == FIF_UNKNOWN) return QStringLiteral(PICTREL_LOADING_FIXTURES "/") + c.Name;
        TFreeImagePtr dib = c.Alpha ? MakeAlphaPattern(300, 200) : MakePattern(300, 200);
        return Save(dib.get(), c.Format, Path(c.Name));
    }
    QTemporaryDir m_dir;
};

class IsolatedLoad : public Isolation, public ::testing::WithParamInterface<TIsolatedCase> {};

TEST_P(IsolatedLoad, GivesWhatTheInProcessLoadGives) {
    if (DecodeInProcess()) GTEST_SKIP() << "PICTREL_DECODE_IN_PROCESS=1 keeps decoding here";
    const QString file = MakeFile(GetParam());
    TImageLoadRequest request;
    request.FileName = file;
    const std::atomic<bool> stop{false};
    TImageLoadResult inProcess;
    RunImageLoad(request, stop, inProcess);
    TImageLoadResult isolated;
    ASSERT_TRUE(TDecoderPool::Instance().Run(request, stop, isolated));
    EXPECT_EQ(isolated.Status, inProcess.Status);
    EXPECT_EQ(isolated.ImageKind, inProcess.ImageKind);
    EXPECT_EQ(isolated.ImageFormat, inProcess.ImageFormat);
    EXPECT_EQ(isolated.HasAlpha, inProcess.HasAlpha);
    EXPECT_EQ(isolated.PageCount, inProcess.PageCount);
    EXPECT_EQ(isolated.ExifList, inProcess.ExifList);
    EXPECT_EQ(isolated.XmpList, inProcess.XmpList);
    EXPECT_EQ(isolated.InfoList, inProcess.InfoList);
    EXPECT_EQ(isolated.IccProfile, inProcess.IccProfile);
    EXPECT_TRUE(SamePixels(isolated.Bitmap, inProcess.Bitmap));
    EXPECT_EQ(isolated.Bitmap.IsOpaque(), inProcess.Bitmap.IsOpaque());
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, IsolatedLoad,
    ::testing::Values(TIsolatedCase{"photo.jpg", FIF_JPEG, false},
                      TIsolatedCase{"opaque.png", FIF_PNG, false},
                      TIsolatedCase{"alpha.png", FIF_PNG, true},
                      TIsolatedCase{"picture.bmp", FIF_BMP, false},
                      TIsolatedCase{"seed-small.heic", FIF_UNKNOWN, false},
                      TIsolatedCase{"seed-small.jxl", FIF_UNKNOWN, false},
                      TIsolatedCase{"fuzz-raw-refused-by-libraw.dng", FIF_UNKNOWN, false},
                      TIsolatedCase{"freeimage-crash-psd-negative-memcpy.psd", FIF_UNKNOWN, false},
                      TIsolatedCase{"fuzz-pict-shorter-than-header.pct", FIF_UNKNOWN, false}),
    [](const auto& info) {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

// A fault acted out by the helper, and what the program makes of it.
struct TFaultCase {
    const char* Fault;
    const char* Reason;
};

void PrintTo(const TFaultCase& c, std::ostream* os) {
    *os << c.Fault;
}

class DecoderFault : public Isolation, public ::testing::WithParamInterface<TFaultCase> {};

TEST_P(DecoderFault, EndsInAnErrorAndTheNextPictureOpens) {
    if (DecodeInProcess()) GTEST_SKIP() << "PICTREL_DECODE_IN_PROCESS=1 keeps decoding here";
    // The helper reads the switch when it starts.
    ::setenv("PICTREL_DECODER_FAULT", GetParam().Fault, 1);
    TDecoderPool::Instance().Reset();
    TDecoderPool::Instance().SetTimes({.LimitMs = 700, .GraceMs = 100});
    const QString bad = Save(MakePattern(40, 30).get(), FIF_PNG, Path("pictrel-fault.png"));
    const QString good = Save(MakePattern(40, 30).get(), FIF_PNG, Path("good.png"));

    TImageLoadRequest request;
    request.FileName = bad;
    const std::atomic<bool> stop{false};
    TImageLoadResult result;
    RunImageLoadIsolated(request, stop, result);
    EXPECT_EQ(result.Status, ilError);
    EXPECT_TRUE(result.Bitmap.Empty());
    EXPECT_TRUE(result.ErrorReason.contains(GetParam().Reason)) << result.ErrorReason.toStdString();

    request.FileName = good;
    TImageLoadResult next;
    RunImageLoadIsolated(request, stop, next);
    EXPECT_EQ(next.Status, ilSucces);
    EXPECT_TRUE(SamePixels(next.Bitmap, FreeImageReference(good)));
}

INSTANTIATE_TEST_SUITE_P(Decoder, DecoderFault,
                         ::testing::Values(TFaultCase{"crash", "the decoder stopped"},
                                           TFaultCase{"hang", "the decoder took longer"},
                                           TFaultCase{"memory", "not enough memory"}),
                         [](const auto& info) { return std::string(info.param.Fault); });

TEST_F(Isolation, AStoppedDecodeThatDoesNotEndIsKilledAndReplaced) {
    if (DecodeInProcess()) GTEST_SKIP() << "PICTREL_DECODE_IN_PROCESS=1 keeps decoding here";
    ::setenv("PICTREL_DECODER_FAULT", "hang", 1);
    TDecoderPool& pool = TDecoderPool::Instance();
    pool.Reset();
    pool.SetTimes({.LimitMs = 20000, .GraceMs = 100});
    pool.Warm();
    ASSERT_EQ(pool.IdlePids().size(), 1u);
    const pid_t hung = pool.IdlePids().front();
    TImageLoadRequest request;
    request.FileName = Save(MakePattern(40, 30).get(), FIF_PNG, Path("pictrel-fault.png"));
    std::atomic<bool> stop{false};
    TImageLoadResult result;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
    });
    ASSERT_TRUE(pool.Run(request, stop, result));
    stopper.join();
    EXPECT_EQ(result.Status, ilTerminated);
    // Deaf to the stop request, it is killed after the grace; fresh ones take its place.
    EXPECT_TRUE(PumpUntil([&] { return ::kill(hung, 0) != 0 && pool.HelperCount() >= 1; }, 5000));
    const std::vector<pid_t> idle = pool.IdlePids();
    EXPECT_FALSE(idle.empty());
    EXPECT_EQ(std::count(idle.begin(), idle.end(), hung), 0);
}

TEST_F(Isolation, AStoppedDecodeReturnsAtOnceAndItsHelperIsUsedAgain) {
    if (DecodeInProcess()) GTEST_SKIP() << "PICTREL_DECODE_IN_PROCESS=1 keeps decoding here";
    TDecoderPool& pool = TDecoderPool::Instance();
    pool.Reset();
    pool.Warm();
    ASSERT_EQ(pool.IdlePids().size(), 1u);
    const pid_t helper = pool.IdlePids().front();
    TImageLoadRequest request;
    request.FileName = Save(MakePattern(3000, 2000).get(), FIF_JPEG, Path("big.jpg"));
    const std::atomic<bool> stop{true};
    TImageLoadResult result;
    // Stopped before it began: nothing is sent, the helper waits on.
    ASSERT_TRUE(pool.Run(request, stop, result));
    EXPECT_EQ(result.Status, ilTerminated);
    EXPECT_TRUE(PumpUntil([&] {
        const std::vector<pid_t> idle = pool.IdlePids();
        return std::count(idle.begin(), idle.end(), helper) == 1;
    }));
}

// A helper that cannot be started, and one that cannot confine itself (it ends at once
// with its own exit code).
class NoHelper : public Isolation, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoHelper, TheLoadRunsInProcess) {
    std::string program = "/nonexistent/pictrel-decoder";
    if (std::string(GetParam()) == "unconfined") {
        program = QFile::encodeName(Path("unconfined.sh")).toStdString();
        WriteFile(QString::fromStdString(program), QByteArray("#!/bin/sh\nexit ") +
                                                       QByteArray::number(kDecoderNoSandboxExit) +
                                                       "\n");
        ASSERT_EQ(::chmod(program.c_str(), 0700), 0);
    }
    TDecoderPool::Instance().SetProgram(program);
    const QString file = Save(MakePattern(40, 30).get(), FIF_PNG, Path("a.png"));
    TImageLoadRequest request;
    request.FileName = file;
    const std::atomic<bool> stop{false};
    TImageLoadResult result;
    EXPECT_FALSE(TDecoderPool::Instance().Run(request, stop, result));
    RunImageLoadIsolated(request, stop, result);
    EXPECT_EQ(result.Status, ilSucces);
    EXPECT_TRUE(SamePixels(result.Bitmap, FreeImageReference(file)));
    // Not tried again for every picture.
    EXPECT_EQ(TDecoderPool::Instance().HelperCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Decoder, NoHelper, ::testing::Values("missing", "unconfined"));

TEST_F(Isolation, ALoaderSurvivesACrashingDecoder) {
    if (DecodeInProcess()) GTEST_SKIP() << "PICTREL_DECODE_IN_PROCESS=1 keeps decoding here";
    ::setenv("PICTREL_DECODER_FAULT", "crash", 1);
    TDecoderPool::Instance().Reset();
    const QString bad = Save(MakePattern(40, 30).get(), FIF_JPEG, Path("pictrel-fault.jpg"));
    const QString good = Save(MakePattern(40, 30).get(), FIF_PNG, Path("good.png"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(bad));
    EXPECT_EQ(loader.Status(), ilError);
    EXPECT_TRUE(loader.ErrorReason().contains("the decoder stopped"));
    EXPECT_TRUE(loader.InfoList().join(' ').contains("the decoder stopped"));
    ASSERT_TRUE(rec.OpenAndWait(good));
    EXPECT_EQ(loader.Status(), ilSucces);
    EXPECT_TRUE(loader.ErrorReason().isEmpty());
    EXPECT_EQ(rec.Events, QStringList({"start pictrel-fault.jpg", "error pictrel-fault.jpg",
                                       "start good.png", "bitmap good.png", "succes good.png"}));
}

} // namespace
