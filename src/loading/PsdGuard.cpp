#include "loading/PsdGuard.h"

#include <QFile>

#include <cstdint>

namespace {

// Big-endian reader over a mapped file that reports running past the end.
class TReader {
public:
    TReader(const uchar* data, qint64 size) : m_data(data), m_size(size) {}

    [[nodiscard]] bool Ok() const { return m_ok; }
    [[nodiscard]] qint64 Pos() const { return m_pos; }
    [[nodiscard]] qint64 Left() const { return m_size - m_pos; }
    [[nodiscard]] const uchar* Here() const { return m_data + m_pos; }

    std::uint64_t Read(int bytes) {
        if (Left() < bytes) {
            m_ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | m_data[m_pos++];
        return v;
    }
    void Skip(std::uint64_t bytes) {
        if (std::uint64_t(Left()) < bytes)
            m_ok = false;
        else
            m_pos += qint64(bytes);
    }

private:
    const uchar* m_data;
    qint64 m_size;
    qint64 m_pos = 0;
    bool m_ok = true;
};

// One row of PackBits data: it must fill exactly `rowBytes` without a run crossing
// the row's end and without reading past its own `count` bytes, and use all of them:
// FreeImage decodes every header of the row's bytes, and one more run after the row is
// full makes it write a negative number of bytes.
bool PackBitsRowIsSound(const uchar* p, std::uint64_t count, std::uint64_t rowBytes) {
    std::uint64_t in = 0, out = 0;
    while (out < rowBytes) {
        if (in >= count) return false;
        const int header = p[in++];
        if (header < 128) {
            const std::uint64_t literal = std::uint64_t(header) + 1;
            if (out + literal > rowBytes || in + literal > count) return false;
            in += literal;
            out += literal;
        } else if (header > 128) {
            const std::uint64_t repeat = 257 - std::uint64_t(header);
            if (out + repeat > rowBytes || in + 1 > count) return false;
            in += 1;
            out += repeat;
        }
        // 128 is a no-op.
    }
    // Some writers pad a row with no-ops.
    while (in < count && p[in] == 128) ++in;
    return in == count;
}

} // namespace

bool PsdDataIsSound(const QByteArray& path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) return false;
    const qint64 size = file.size();
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    if (data == nullptr) return false;
    TReader r(data, size);

    if (r.Read(4) != 0x38425053) return false; // "8BPS"
    const auto version = r.Read(2);
    if (version != 1 && version != 2) return false;
    r.Skip(6);
    const std::uint64_t channels = r.Read(2);
    const std::uint64_t height = r.Read(4);
    const std::uint64_t width = r.Read(4);
    const std::uint64_t depth = r.Read(2);
    r.Skip(2); // colour mode
    const std::uint64_t limit = version == 1 ? 30000 : 300000;
    if (!r.Ok() || channels < 1 || channels > 56 || height < 1 || width < 1 || height > limit ||
        width > limit)
        return false;
    if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return false;

    r.Skip(r.Read(4));                    // colour mode data
    r.Skip(r.Read(4));                    // image resources
    r.Skip(r.Read(version == 1 ? 4 : 8)); // layer and mask information
    const std::uint64_t compression = r.Read(2);
    if (!r.Ok()) return false;

    const std::uint64_t rowBytes = depth == 1 ? (width + 7) / 8 : width * (depth / 8);
    const std::uint64_t rows = height * channels;
    if (compression == 0) return std::uint64_t(r.Left()) >= rows * rowBytes;
    if (compression != 1) return true; // the decoder refuses what it cannot read

    // A table of compressed row sizes, then the rows one after another.
    const int countBytes = version == 1 ? 2 : 4;
    if (std::uint64_t(r.Left()) < rows * countBytes) return false;
    const uchar* table = r.Here();
    r.Skip(rows * countBytes);
    for (std::uint64_t i = 0; i < rows; ++i) {
        std::uint64_t count = 0;
        for (int b = 0; b < countBytes; ++b) count = (count << 8) | table[i * countBytes + b];
        if (std::uint64_t(r.Left()) < count) return false;
        if (!PackBitsRowIsSound(r.Here(), count, rowBytes)) return false;
        r.Skip(count);
    }
    return r.Ok();
}
