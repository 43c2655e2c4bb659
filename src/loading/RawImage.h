#pragma once

#include "loading/VekImageSettings.h"
#include "loading/vekraw.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TBitmap32;

// One camera RAW picture: loads a file through vekraw, keeps its decoded 16-bit
// four-sample data (red, green, blue, second green) with stretched levels, and develops
// it into a 32-bit bitmap with white balance, a base curve, an exposure curve and a
// gamma curve, all folded into lookup tables.
class TRawImage {
public:
    TRawImage();
    ~TRawImage();
    TRawImage(const TRawImage&) = delete;
    TRawImage& operator=(const TRawImage&) = delete;

    // Result codes of LoadFromFile.
    static constexpr int kLoaded = 0;
    static constexpr int kMissing = 1;
    static constexpr int kNotRaw = 2;

    void Reset();
    // Takes the ten development values over; nothing else changes.
    void ApplySettings(const TVekImageSettings& settings);
    [[nodiscard]] int LoadFromFile(const QString& fileName);
    // Develops the picture into `bitmap`; without pixels the bitmap becomes 0 x 0.
    void RenderTo(TBitmap32& bitmap);

    [[nodiscard]] const QString& FileName() const { return m_fileName; }
    [[nodiscard]] int Width() const { return m_width; }
    [[nodiscard]] int Height() const { return m_height; }
    [[nodiscard]] const std::uint16_t* Pixels() const { return m_pixels.get(); }
    // Counters of sample values for channel 0..3 (red, green, blue, second green).
    [[nodiscard]] const std::uint32_t* Histogram(int channel) const {
        return m_histogram.data() + std::size_t(channel) * 65536;
    }
    [[nodiscard]] std::uint16_t MaxLevel() const { return m_maxLevel; }
    [[nodiscard]] std::uint16_t MinLevel() const { return m_minLevel; }
    [[nodiscard]] std::int32_t Flip() const { return m_flip; }
    // Stored in the order blue, green, second green, red.
    [[nodiscard]] const std::array<float, 4>& DaylightMultipliers() const { return m_daylight; }
    [[nodiscard]] const std::array<float, 4>& CameraMultipliers() const { return m_camera; }
    // The development values in use (only the RAW fields are meaningful).
    [[nodiscard]] const TVekImageSettings& Settings() const { return m_settings; }

    // The development stages, each a pure function of its arguments.
    using TTable = std::vector<std::uint16_t>; // 65536 entries
    using TRgb = std::array<double, 3>;        // red, green, blue
    // Scales the smallest multiplier to 1 (a zero smallest one first lifts all by 1),
    // then caps the largest at 8.
    [[nodiscard]] static TRgb NormaliseMultipliers(TRgb m);
    // Multipliers for an illuminant of `temperature` kelvin, before normalisation;
    // daylight in the order red, green, blue.
    [[nodiscard]] static TRgb TemperatureMultipliers(int temperature, double green,
                                                     const TRgb& daylight);
    // The k of the exposure curve for an exposure factor e > 1.
    [[nodiscard]] static double ExposureK(double e);
    // The base curve from the curve points.
    [[nodiscard]] static TTable BaseCurve(const std::vector<TCurvePoint>& curve);
    // Base, exposure and gamma curve in one table.
    [[nodiscard]] static TTable ToneTable(const TVekImageSettings& settings);
    // 16 to 8 bits.
    [[nodiscard]] static std::array<std::uint8_t, 65536> EightBitTable();
    // The level stretch of [minLevel, maxLevel] onto 0..65535; empty when the range is empty.
    [[nodiscard]] static TTable StretchTable(std::uint16_t minLevel, std::uint16_t maxLevel);

private:
    struct THandleCloser {
        void operator()(vekraw_context* h) const noexcept { vekraw_finalize(h); }
    };
    using THandle = std::unique_ptr<vekraw_context, THandleCloser>;

    void FreeData();
    [[nodiscard]] int Load(const QString& fileName);
    // Counts `pixels` pixels of four samples each: the decoder's whole picture.
    void BuildHistograms(const std::uint16_t* samples, std::size_t pixels);
    void ComputeLevels();
    [[nodiscard]] TRgb ChannelMultipliers() const;

    THandle m_handle;
    QString m_fileName;
    std::unique_ptr<std::uint16_t[]> m_pixels;
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint32_t> m_histogram;
    std::uint16_t m_maxLevel = 65535;
    std::uint16_t m_minLevel = 0;
    std::int32_t m_flip = 0;
    std::array<float, 4> m_daylight{};
    std::array<float, 4> m_camera{};
    TVekImageSettings m_settings;
};
