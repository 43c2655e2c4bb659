#include "loading/TiffGuard.h"

#include <QFile>

#include <cstdint>
#include <set>

namespace {

constexpr std::uint16_t kIptcTag = 33723;
// libtiff follows no more page directories than this; neither does the walk.
constexpr int kMaxDirectories = 65536;

bool SingleByteType(std::uint16_t type) {
    constexpr std::uint16_t kByte = 1, kAscii = 2, kSByte = 6, kUndefined = 7;
    return type == kByte || type == kAscii || type == kSByte || type == kUndefined;
}

class TTiffReader {
public:
    explicit TTiffReader(QFile& file) : m_file(file) {}

    bool Header() {
        const QByteArray head = Bytes(0, 16);
        if (head.size() < 8) return false;
        if (head.startsWith("II"))
            m_little = true;
        else if (head.startsWith("MM"))
            m_little = false;
        else
            return false;
        const std::uint64_t magic = Number(head, 2, 2);
        if (magic == 42) {
            m_big = false;
            m_first = Number(head, 4, 4);
            return true;
        }
        if (magic != 43 || head.size() < 16 || Number(head, 4, 2) != 8) return false;
        m_big = true;
        m_first = Number(head, 8, 8);
        return true;
    }

    // Whether every page directory's IPTC entry has a type FreeImage reads safely.
    bool DirectoriesSound() {
        std::set<std::uint64_t> seen;
        std::uint64_t at = m_first;
        const int countSize = m_big ? 8 : 2;
        const int entrySize = m_big ? 20 : 12;
        for (int n = 0; at != 0 && n < kMaxDirectories && seen.insert(at).second; ++n) {
            const QByteArray countBytes = Bytes(at, countSize);
            if (countBytes.size() < countSize) return true;
            const std::uint64_t count = Number(countBytes, 0, countSize);
            const std::uint64_t size = count * std::uint64_t(entrySize);
            if (count > 0xFFFF ||
                at + std::uint64_t(countSize) + size > std::uint64_t(m_file.size()))
                return true; // libtiff gives up on this directory itself
            const QByteArray entries = Bytes(at + std::uint64_t(countSize), qint64(size));
            for (std::uint64_t i = 0; i < count; ++i) {
                const int e = int(i) * entrySize;
                if (Number(entries, e, 2) == kIptcTag &&
                    SingleByteType(std::uint16_t(Number(entries, e + 2, 2))))
                    return false;
            }
            const int nextSize = m_big ? 8 : 4;
            const QByteArray next = Bytes(at + std::uint64_t(countSize) + size, nextSize);
            if (next.size() < nextSize) return true;
            at = Number(next, 0, nextSize);
        }
        return true;
    }

private:
    QByteArray Bytes(std::uint64_t at, qint64 n) {
        if (at > std::uint64_t(m_file.size()) || !m_file.seek(qint64(at))) return {};
        return m_file.read(n);
    }
    std::uint64_t Number(const QByteArray& b, int at, int size) const {
        std::uint64_t v = 0;
        for (int i = 0; i < size; ++i) {
            const std::uint64_t byte = std::uint8_t(b[at + (m_little ? size - 1 - i : i)]);
            v = (v << 8) | byte;
        }
        return v;
    }

    QFile& m_file;
    bool m_little = true;
    bool m_big = false;
    std::uint64_t m_first = 0;
};

} // namespace

bool TiffMetadataIsSound(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) return true;
    TTiffReader reader(file);
    return !reader.Header() || reader.DirectoriesSound();
}
