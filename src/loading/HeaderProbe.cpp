#include "loading/HeaderProbe.h"

#include "loading/ImageLimits.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

namespace {

struct TCloseFile {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

// Random access to a file's bytes; every read that runs past the end fails.
class TFileBytes {
public:
    explicit TFileBytes(const QByteArray& path) : m_file(std::fopen(path.constData(), "rb")) {
        if (m_file && std::fseek(m_file.get(), 0, SEEK_END) == 0) {
            const long end = std::ftell(m_file.get());
            m_size = end > 0 ? std::uint64_t(end) : 0;
        }
    }
    [[nodiscard]] bool Open() const { return m_file != nullptr; }
    [[nodiscard]] std::uint64_t Size() const { return m_size; }

    bool Read(std::uint64_t at, void* out, std::size_t n) {
        if (!m_file || at > m_size || n > m_size - at) return false;
        if (std::fseek(m_file.get(), long(at), SEEK_SET) != 0) return false;
        return std::fread(out, 1, n, m_file.get()) == n;
    }
    template <std::size_t N>
    std::optional<std::array<unsigned char, N>> Bytes(std::uint64_t at) {
        std::array<unsigned char, N> b{};
        if (!Read(at, b.data(), N)) return std::nullopt;
        return b;
    }
    // Up to `n` bytes from `at`, fewer at the end of the file.
    std::string Text(std::uint64_t at, std::size_t n) {
        if (at >= m_size) return {};
        std::string s(std::size_t(std::min<std::uint64_t>(n, m_size - at)), '\0');
        if (!Read(at, s.data(), s.size())) return {};
        return s;
    }

private:
    std::unique_ptr<std::FILE, TCloseFile> m_file;
    std::uint64_t m_size = 0;
};

std::uint32_t Big16(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 8) | p[1];
}
std::uint32_t Big32(const unsigned char* p) {
    return (Big16(p) << 16) | Big16(p + 2);
}
std::uint32_t Little16(const unsigned char* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
}
std::uint32_t Little32(const unsigned char* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// The DirectDraw surface header: "DDS ", then a 124-byte description whose pixel
// format part is 32 bytes; height and width follow the size and the flags.
bool DdsWithinLimit(TFileBytes& file) {
    const auto h = file.Bytes<128>(0);
    if (!h || std::memcmp(h->data(), "DDS ", 4) != 0) return false;
    if (Little32(h->data() + 4) != 124 || Little32(h->data() + 76) != 32) return false;
    return WithinImageLimit(Little32(h->data() + 16), Little32(h->data() + 12));
}

// SGI: magic 474, then storage, bytes per channel, dimension, x, y and z sizes.
bool SgiWithinLimit(TFileBytes& file) {
    const auto h = file.Bytes<12>(0);
    if (!h || Big16(h->data()) != 474) return false;
    // The run-length offset tables hold y size times z size entries.
    return Big16(h->data() + 10) <= 4 &&
           WithinImageLimit(Big16(h->data() + 6), Big16(h->data() + 8));
}

// WBMP: multi-byte integers (seven bits a byte, the top bit continues).
class TWbmpReader {
public:
    explicit TWbmpReader(TFileBytes& file) : m_file(file) {}
    bool Byte(unsigned char& b) { return m_file.Read(m_at, &b, 1) && (++m_at, true); }
    std::uint32_t MultiByte() {
        std::uint32_t v = 0;
        unsigned char b = 0;
        while (Byte(b)) {
            v += b & 0x7F;
            if ((b & 0x80) == 0) break;
            v <<= 7;
        }
        return v;
    }
    void Skip(std::uint64_t n) { m_at += n; }

private:
    TFileBytes& m_file;
    std::uint64_t m_at = 0;
};

bool WbmpWithinLimit(TFileBytes& file) {
    TWbmpReader r(file);
    if (r.MultiByte() != 0) return true; // a type the decoder refuses
    unsigned char fixed = 0;
    // The decoder does not notice that its fixed header byte is missing and goes on
    // with whatever its stack held, often into extension headers it never finishes.
    if (!r.Byte(fixed)) return false;
    if (fixed & 0x80) {
        unsigned char ext = 0x80;
        while (ext & 0x80) {
            // The decoder keeps the last byte at the end of the file and reads on.
            if (!r.Byte(ext)) return false;
            if ((ext & 0x60) == 0x00) r.MultiByte();
            if ((ext & 0x60) == 0x60) r.Skip(((ext & 0x70) >> 4) + (ext & 0x0F));
        }
    }
    const std::uint32_t width = r.MultiByte() & 0xFFFF;
    const std::uint32_t height = r.MultiByte() & 0xFFFF;
    return WithinImageLimit(width, height);
}

// XBM: "#define <name>_width <n>" and "#define <name>_height <n>" before the data.
bool XbmWithinLimit(TFileBytes& file) {
    const std::string text = file.Text(0, 64 * 1024);
    long long width = -1, height = -1;
    for (std::size_t at = text.find("#define"); at != std::string::npos;
         at = text.find("#define", at + 7)) {
        std::size_t p = at + 7;
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
        const std::size_t nameStart = p;
        while (p < text.size() && text[p] != ' ' && text[p] != '\t' && text[p] != '\n') ++p;
        const std::string name = text.substr(nameStart, p - nameStart);
        errno = 0;
        char* end = nullptr;
        const long long value = std::strtoll(text.c_str() + p, &end, 10);
        if (end == text.c_str() + p) continue;
        const auto endsWith = [&](const char* s) {
            const std::size_t n = std::strlen(s);
            return name.size() >= n && name.compare(name.size() - n, n, s) == 0;
        };
        const bool isWidth = endsWith("width");
        if (!isWidth && !endsWith("height")) continue;
        if (errno == ERANGE || value < 0) return false;
        (isWidth ? width : height) = value;
    }
    if (width < 0 || height < 0) return true;
    return WithinImageLimit(std::uint64_t(width), std::uint64_t(height));
}

// IFF: "FORM", its size and type, then chunks of an id, a big-endian size and the
// data padded to an even length; the bitmap header holds width and height.
bool IffWithinLimit(TFileBytes& file) {
    const auto form = file.Bytes<12>(0);
    if (!form || std::memcmp(form->data(), "FORM", 4) != 0) return true;
    std::uint64_t at = 12;
    for (int chunk = 0; chunk < 100000; ++chunk) {
        const auto c = file.Bytes<12>(at);
        if (!c) return true;
        if (std::memcmp(c->data(), "BMHD", 4) == 0)
            return WithinImageLimit(Big16(c->data() + 8), Big16(c->data() + 10));
        const std::uint64_t size = Big32(c->data() + 4);
        at += 8 + size + (size & 1);
    }
    return true;
}

// PICT: a 512-byte header of no meaning, the picture size, then the frame as top,
// left, bottom and right. The decoder then skips zero bytes up to the version
// opcode without looking for the end of the file: a file that ends first would keep
// it reading for ever.
bool PictWithinLimit(TFileBytes& file) {
    const auto h = file.Bytes<10>(512);
    if (!h) return false;
    const auto coordinate = [&](int i) { return std::int16_t(Big16(h->data() + 2 + 2 * i)); };
    const std::int64_t width = std::int64_t(coordinate(3)) - coordinate(1);
    const std::int64_t height = std::int64_t(coordinate(2)) - coordinate(0);
    if (width >= 0 && height >= 0 && !WithinImageLimit(std::uint64_t(width), std::uint64_t(height)))
        return false;
    for (std::uint64_t at = 522;; at += 64 * 1024) {
        const std::string chunk = file.Text(at, 64 * 1024);
        if (chunk.empty()) return false;
        if (chunk.find_first_not_of('\0') != std::string::npos) return true;
    }
}

// A JPEG 2000 code stream: SOC, then SIZ with the reference grid and image offset
// and the number of components.
bool CodeStreamWithinLimit(TFileBytes& file, std::uint64_t at) {
    const auto s = file.Bytes<42>(at);
    if (!s || Big16(s->data()) != 0xFF4F || Big16(s->data() + 2) != 0xFF51) return true;
    const std::uint32_t xsiz = Big32(s->data() + 8), ysiz = Big32(s->data() + 12);
    const std::uint32_t xo = Big32(s->data() + 16), yo = Big32(s->data() + 20);
    if (xo >= xsiz || yo >= ysiz) return true;
    // Every component is decoded at full size before the picture is put together.
    return Big16(s->data() + 40) <= 4 && WithinImageLimit(xsiz - xo, ysiz - yo);
}

// JP2: boxes of a big-endian length (1: a 64-bit length follows; 0: to the end)
// and a type; the code stream is the "jp2c" box.
bool Jp2WithinLimit(TFileBytes& file) {
    std::uint64_t at = 0;
    for (int box = 0; box < 100000 && at < file.Size(); ++box) {
        const auto b = file.Bytes<8>(at);
        if (!b) return true;
        const unsigned char* p = b->data();
        std::uint64_t length = Big32(p);
        std::uint64_t header = 8;
        if (length == 1) {
            const auto wide = file.Bytes<8>(at + 8);
            if (!wide) return true;
            length = (std::uint64_t(Big32(wide->data())) << 32) | Big32(wide->data() + 4);
            header = 16;
        } else if (length == 0) {
            length = file.Size() - at;
        }
        if (std::memcmp(p + 4, "jp2c", 4) == 0) return CodeStreamWithinLimit(file, at + header);
        if (length < header) return true;
        at += length;
    }
    return true;
}

// MNG: the signature, then PNG-style chunks (length, type, data, CRC); the frame
// header and the header of every embedded PNG or JNG picture give sizes.
bool MngWithinLimit(TFileBytes& file) {
    std::uint64_t at = 8;
    for (int chunk = 0; chunk < 1000000 && at < file.Size(); ++chunk) {
        const auto c = file.Bytes<16>(at);
        if (!c) return true;
        const std::uint32_t length = Big32(c->data());
        const unsigned char* type = c->data() + 4;
        if (std::memcmp(type, "MHDR", 4) == 0 || std::memcmp(type, "IHDR", 4) == 0 ||
            std::memcmp(type, "JHDR", 4) == 0) {
            if (!WithinImageLimit(Big32(c->data() + 8), Big32(c->data() + 12))) return false;
        }
        if (std::memcmp(type, "MEND", 4) == 0) return true;
        at += 12 + std::uint64_t(length);
    }
    return true;
}

} // namespace

bool HeaderWithinLimit(FREE_IMAGE_FORMAT fif, const QByteArray& path) {
    TFileBytes file(path);
    if (!file.Open()) return true;
    switch (fif) {
    case FIF_DDS:
        return DdsWithinLimit(file);
    case FIF_SGI:
        return SgiWithinLimit(file);
    case FIF_WBMP:
        return WbmpWithinLimit(file);
    case FIF_XBM:
        return XbmWithinLimit(file);
    case FIF_IFF:
        return IffWithinLimit(file);
    case FIF_PICT:
        return PictWithinLimit(file);
    case FIF_J2K:
        return CodeStreamWithinLimit(file, 0);
    case FIF_JP2:
        return Jp2WithinLimit(file);
    case FIF_MNG:
        return MngWithinLimit(file);
    default:
        return true;
    }
}

bool IconDirectoryIsSound(const QByteArray& path) {
    TFileBytes file(path);
    if (!file.Open()) return true;
    const auto head = file.Bytes<6>(0);
    // Reserved 0, type 1 (icon) or 2 (cursor), as the decoder wants them.
    if (!head || Little16(head->data()) != 0 ||
        (Little16(head->data() + 2) != 1 && Little16(head->data() + 2) != 2))
        return true;
    const std::uint64_t count = Little16(head->data() + 4);
    const std::uint64_t pictures = 6 + 16 * count;
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto entry = file.Bytes<16>(6 + 16 * i);
        if (!entry) return false; // the directory itself runs past the end
        const std::uint64_t size = Little32(entry->data() + 8);
        const std::uint64_t offset = Little32(entry->data() + 12);
        constexpr std::uint64_t kSmallestPicture = 8;
        if (offset < pictures || size < kSmallestPicture || offset + size > file.Size())
            return false;
        const auto signature = file.Bytes<8>(offset);
        const bool png = signature && std::memcmp(signature->data(), "\x89PNG\r\n\x1a\n", 8) == 0;
        if (png) continue;
        const auto info = file.Bytes<16>(offset);
        if (!info || offset + 40 > file.Size()) return false;
        // The decoder makes its bitmap for the depths a bitmap can have (any other becomes
        // 8 bits) but reads the rows the header's own depth needs: a depth of 64 or 0xD220
        // bits writes far past the rows it made. The height counts the mask's rows too.
        const auto width = std::int32_t(Little32(info->data() + 4));
        const auto height = std::int32_t(Little32(info->data() + 8));
        const unsigned depth = Little16(info->data() + 14);
        constexpr unsigned kDepths[] = {1, 4, 8, 16, 24, 32};
        if (width <= 0 || height < 2 ||
            std::find(std::begin(kDepths), std::end(kDepths), depth) == std::end(kDepths))
            return false;
    }
    return true;
}
