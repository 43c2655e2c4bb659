#include "DngWriter.h"

#include <QtEndian>

#include <cmath>
#include <map>
#include <vector>

namespace pictrel::test {

namespace {

enum : std::uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSRational = 10
};

int TypeSize(std::uint16_t type) {
    switch (type) {
    case kShort:
        return 2;
    case kLong:
        return 4;
    case kRational:
    case kSRational:
        return 8;
    default:
        return 1;
    }
}

struct TEntry {
    std::uint16_t Type = kLong;
    std::uint32_t Count = 0;
    QByteArray Data; // little-endian values
};

void Put16(QByteArray& b, std::uint16_t v) {
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}
void Put32(QByteArray& b, std::uint32_t v) {
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

class TIfd {
public:
    void Shorts(std::uint16_t tag, std::initializer_list<std::uint16_t> v) {
        TEntry& e = Add(tag, kShort, std::uint32_t(v.size()));
        for (auto x : v) Put16(e.Data, x);
    }
    void Long(std::uint16_t tag, std::uint32_t v) { Put32(Add(tag, kLong, 1).Data, v); }
    void Bytes(std::uint16_t tag, std::initializer_list<std::uint8_t> v) {
        TEntry& e = Add(tag, kByte, std::uint32_t(v.size()));
        for (auto x : v) e.Data.append(char(x));
    }
    void Ascii(std::uint16_t tag, const char* s) {
        QByteArray text(s);
        text.append('\0');
        Add(tag, kAscii, std::uint32_t(text.size())).Data = text;
    }
    template <std::size_t N>
    void Rationals(std::uint16_t tag, const std::array<double, N>& v, bool isSigned) {
        TEntry& e = Add(tag, isSigned ? kSRational : kRational, N);
        for (double x : v) {
            Put32(e.Data, std::uint32_t(std::int32_t(std::lround(x * 10000))));
            Put32(e.Data, 10000);
        }
    }

    // Writes the header and the IFD; image data follows at the returned offset.
    QByteArray Write(std::uint32_t& imageOffsetOut, const QByteArray& image) {
        QByteArray out("II*\0", 4);
        Put32(out, 8);
        const std::uint32_t ifdSize = 2 + 12 * std::uint32_t(m_entries.size()) + 4;
        std::uint32_t extra = 8 + ifdSize;
        QByteArray extraData;
        // Strip offset is patched in below, once the extra data size is known.
        std::uint32_t extraTotal = 0;
        for (auto& [tag, e] : m_entries)
            if (e.Data.size() > 4) extraTotal += std::uint32_t(e.Data.size() + (e.Data.size() & 1));
        imageOffsetOut = extra + extraTotal;
        if (m_entries.count(273)) {
            m_entries[273].Data.clear();
            Put32(m_entries[273].Data, imageOffsetOut);
        }
        Put16(out, std::uint16_t(m_entries.size()));
        for (auto& [tag, e] : m_entries) {
            Put16(out, tag);
            Put16(out, e.Type);
            Put32(out, e.Count);
            if (e.Data.size() <= 4) {
                QByteArray v = e.Data;
                v.append(QByteArray(4 - v.size(), '\0'));
                out.append(v);
            } else {
                Put32(out, extra + std::uint32_t(extraData.size()));
                extraData.append(e.Data);
                if (e.Data.size() & 1) extraData.append('\0');
            }
        }
        Put32(out, 0);
        out.append(extraData);
        out.append(image);
        return out;
    }

private:
    TEntry& Add(std::uint16_t tag, std::uint16_t type, std::uint32_t count) {
        TEntry& e = m_entries[tag];
        e.Type = type;
        e.Count = count;
        e.Data.clear();
        e.Data.reserve(int(count) * TypeSize(type));
        return e;
    }
    std::map<std::uint16_t, TEntry> m_entries; // TIFF wants them sorted by tag
};

} // namespace

QByteArray MakeDng(const TDngDescription& d) {
    QByteArray image;
    image.reserve(d.Width * d.Height * 2);
    for (int y = 0; y < d.Height; ++y)
        for (int x = 0; x < d.Width; ++x) Put16(image, d.Sample(x, y));

    const std::uint32_t w = d.HeaderWidth ? d.HeaderWidth : std::uint32_t(d.Width);
    const std::uint32_t h = d.HeaderHeight ? d.HeaderHeight : std::uint32_t(d.Height);
    TIfd ifd;
    ifd.Long(254, 0);
    ifd.Long(256, w);
    ifd.Long(257, h);
    ifd.Shorts(258, {16});
    ifd.Shorts(259, {1});
    ifd.Shorts(262, {32803});
    ifd.Ascii(271, "Pictrel");
    ifd.Ascii(272, "Test Camera");
    ifd.Long(273, 0);
    ifd.Shorts(274, {std::uint16_t(d.Orientation)});
    ifd.Shorts(277, {1});
    ifd.Long(278, h);
    ifd.Long(279, std::uint32_t(image.size()));
    ifd.Shorts(284, {1});
    ifd.Shorts(33421, {2, 2});
    ifd.Bytes(33422, {0, 1, 1, 2});
    if (d.DngTags) {
        ifd.Bytes(50706, {1, 4, 0, 0});
        ifd.Bytes(50707, {1, 1, 0, 0});
        ifd.Ascii(50708, "Pictrel Test Camera");
        ifd.Bytes(50710, {0, 1, 2});
        ifd.Shorts(50711, {1});
        ifd.Long(50717, d.WhiteLevel);
        ifd.Rationals(50721, d.ColorMatrix, true);
        ifd.Rationals(50728, d.AsShotNeutral, false);
        ifd.Shorts(50778, {21});
    }
    std::uint32_t offset = 0;
    return ifd.Write(offset, image);
}

std::function<std::uint16_t(int, int)>
BayerOf(std::function<std::array<std::uint16_t, 3>(int x, int y)> rgb) {
    return [rgb](int x, int y) -> std::uint16_t {
        const auto c = rgb(x, y);
        if ((x & 1) == 0 && (y & 1) == 0) return c[0];
        if ((x & 1) == 1 && (y & 1) == 1) return c[2];
        return c[1];
    };
}

} // namespace pictrel::test
