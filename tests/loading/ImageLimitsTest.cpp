#include "LoadingTestSupport.h"

#include "loading/ImageLimits.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>

using namespace pictrel::test;
using enum TImageLoaderProStatus;

namespace {

constexpr std::uint64_t kGiB = std::uint64_t(1) << 30;

// Pretends the system has `bytes` available while it lives.
class TFakeAvailableMemory {
public:
    explicit TFakeAvailableMemory(std::uint64_t bytes) { SetAvailableMemoryForTesting(bytes); }
    ~TFakeAvailableMemory() { SetAvailableMemoryForTesting(0); }
    TFakeAvailableMemory(const TFakeAvailableMemory&) = delete;
    TFakeAvailableMemory& operator=(const TFakeAvailableMemory&) = delete;
};

struct LimitCase {
    const char* name;
    std::uint64_t available;
    std::uint64_t width, height;
    bool within;
};

class ImageLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ImageLimitTest, RefusesWhatCannotFit) {
    const TFakeAvailableMemory fake(GetParam().available);
    EXPECT_EQ(WithinImageLimit(GetParam().width, GetParam().height), GetParam().within);
}

INSTANTIATE_TEST_SUITE_P(Limits, ImageLimitTest,
                         ::testing::Values(
                             // A 300-megapixel panorama takes 4.8 GB with the decoder's share.
                             LimitCase{"PanoramaOnALargeMachine", 24 * kGiB, 20000, 15000, true},
                             LimitCase{"PanoramaOnASmallMachine", 4 * kGiB, 20000, 15000, false},
                             LimitCase{"CameraPhotoOnASmallMachine", 2 * kGiB, 6000, 4000, true},
                             // Three quarters of 8 GiB at 16 bytes a pixel: 16384 x 24576.
                             LimitCase{"AtTheShare", 8 * kGiB, 16384, 24576, true},
                             LimitCase{"JustAboveTheShare", 8 * kGiB, 16384, 24577, false},
                             // Absurd headers are refused whatever the machine has.
                             LimitCase{"AbsurdHeader", 1024 * kGiB, 100000, 100000, false},
                             LimitCase{"AbsurdWidth", 1024 * kGiB, (std::uint64_t(1) << 20) + 1, 1,
                                       false},
                             LimitCase{"OverflowingProduct", 1024 * kGiB, std::uint64_t(1) << 40,
                                       std::uint64_t(1) << 40, false},
                             LimitCase{"Empty", 1, 0, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageLimit, ReadsTheSystemsFigure) {
    EXPECT_GT(AvailableMemory(), std::uint64_t(0));
}

struct LoadLimitCase {
    const char* name;
    FREE_IMAGE_FORMAT fif;
    const char* file;
};

class LoadLimitTest : public ::testing::TestWithParam<LoadLimitCase> {};

// Both sides of the limit through the loader: a 64 x 64 picture counts 65536 bytes.
TEST_P(LoadLimitTest, LoadsOnlyWhatFits) {
    QTemporaryDir dir;
    const QString file =
        Save(MakePattern(64, 64).get(), GetParam().fif, dir.path() + "/" + GetParam().file);
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    {
        const TFakeAvailableMemory fake(65536 / 3 * 4); // three quarters: 65535
        ASSERT_TRUE(rec.OpenAndWait(file));
        EXPECT_EQ(loader.Status(), ilError);
    }
    {
        const TFakeAvailableMemory fake(65536 / 3 * 4 + 4); // three quarters: 65538
        ASSERT_TRUE(rec.OpenAndWait(file));
        EXPECT_EQ(loader.Status(), ilSucces);
        EXPECT_EQ(loader.Bitmap().Width(), 64);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, LoadLimitTest,
                         ::testing::Values(LoadLimitCase{"Png", FIF_PNG, "p.png"},
                                           LoadLimitCase{"Jpeg", FIF_JPEG, "p.jpg"},
                                           LoadLimitCase{"Tiff", FIF_TIFF, "p.tif"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
