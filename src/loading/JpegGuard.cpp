#include "loading/JpegGuard.h"

#include "loading/FreeImageSetup.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;
using u64 = std::uint64_t;

// The headers before the first scan; a camera file keeps them well below a megabyte.
constexpr qsizetype kMaxHeaderBytes = qsizetype(4) << 20;
constexpr qsizetype kFirstHeaderRead = qsizetype(64) << 10;
// Each progressive scan passes over the whole thumbnail; real ones have a dozen.
constexpr int kMaxThumbnailScans = 32;
// A camera's Exif block has half a dozen directories.
constexpr std::size_t kMaxDirectories = 32;
// Repairs of one Exif block before the whole block goes.
constexpr int kMaxRepairs = 16;

// ---- Marker segments ----

struct TSegment {
    int Code = 0;
    qsizetype Start = 0;   // the marker's 0xFF
    qsizetype Payload = 0; // after the length
    qsizetype End = 0;     // past the segment
};

enum class TNext : std::uint8_t { Segment, OutOfData, Damaged };

// The segment at `pos` of p[0, n), found the way the decoder finds it: bytes other than
// 0xFF, fill bytes and FF 00 are skipped (so this also steps over entropy-coded data).
// Moves `pos` past it.
TNext NextSegment(const uchar* p, qsizetype n, qsizetype& pos, TSegment& segment) {
    int code = 0;
    while (code == 0) {
        const void* ff = pos < n ? std::memchr(p + pos, 0xFF, std::size_t(n - pos)) : nullptr;
        if (ff == nullptr) return TNext::OutOfData;
        pos = static_cast<const uchar*>(ff) - p;
        while (pos < n && p[pos] == 0xFF) ++pos;
        if (pos >= n) return TNext::OutOfData;
        code = p[pos++];
    }
    segment.Code = code;
    segment.Start = pos - 2;
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD9)) { // markers without a length
        segment.Payload = segment.End = pos;
        return TNext::Segment;
    }
    if (n - pos < 2) return TNext::OutOfData;
    const qsizetype length = (qsizetype(p[pos]) << 8) | p[pos + 1];
    if (length < 2) return TNext::Damaged;
    if (n - pos < length) return TNext::OutOfData;
    segment.Payload = pos + 2;
    segment.End = pos + length;
    pos = segment.End;
    return TNext::Segment;
}

bool IsFrameHeader(int code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

bool IsProgressive(int code) {
    return code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
}

// Whether the decoder itself needs the segment: the JFIF header and the Adobe
// segment, which tells how the colours are stored. FreeImage parses the other
// application segments and comments as metadata.
bool DecoderSegment(int code, const uchar* payload, qsizetype length) {
    if (code == 0xE0) return length >= 5 && std::memcmp(payload, "JFIF\0", 5) == 0;
    if (code == 0xEE) return true;
    return !(code >= 0xE0 && code <= 0xEF) && code != 0xFE;
}

bool IsJfxxThumbnail(const uchar* payload, qsizetype length) {
    return length > 6 && std::memcmp(payload, "JFXX\0\x10", 6) == 0;
}

bool IsExif(const uchar* payload, qsizetype length) {
    return length >= 6 && std::memcmp(payload, "Exif\0\0", 6) == 0;
}

// ---- The TIFF structure of an Exif block (after "Exif\0\0") ----

// Offsets are 64-bit, so that no sum of two 32-bit fields wraps around.
class TTiff {
public:
    TTiff(const uchar* p, u64 length, bool big) : m_p(p), m_length(length), m_big(big) {}

    static std::optional<TTiff> Open(const uchar* p, u64 length) {
        if (length < 8) return std::nullopt;
        if (std::memcmp(p, "II*\0", 4) == 0) return TTiff(p, length, false);
        if (std::memcmp(p, "MM\0*", 4) == 0) return TTiff(p, length, true);
        return std::nullopt;
    }

    [[nodiscard]] const uchar* Data() const { return m_p; }
    [[nodiscard]] u64 Length() const { return m_length; }
    [[nodiscard]] bool Big() const { return m_big; }
    [[nodiscard]] bool Fits(u64 at, u64 bytes) const {
        return at <= m_length && bytes <= m_length - at;
    }
    // Callers check Fits() first.
    [[nodiscard]] u64 U16(u64 at) const {
        const uchar* q = m_p + at;
        return m_big ? (u64(q[0]) << 8) | q[1] : (u64(q[1]) << 8) | q[0];
    }
    [[nodiscard]] u64 U32(u64 at) const {
        return m_big ? (U16(at) << 16) | U16(at + 2) : (U16(at + 2) << 16) | U16(at);
    }
    [[nodiscard]] u64 First() const { return U32(4); }
    // The count and every entry inside the block.
    [[nodiscard]] bool DirectoryFits(u64 at) const {
        return Fits(at, 2) && Fits(at + 2, 12 * U16(at));
    }
    // Where the link to the next directory is; inside the block only if Fits() says so.
    [[nodiscard]] u64 LinkOf(u64 directory) const { return directory + 2 + 12 * U16(directory); }
    // The first directory, and the link after it, which FreeImage always reads.
    [[nodiscard]] bool FirstDirectoryFits() const {
        const u64 first = First();
        return Fits(first, 2) && Fits(LinkOf(first), 4);
    }

    enum class TThumbnail : std::uint8_t { None, Found, Broken };
    // The JPEG stream the second directory names as thumbnail, as FreeImage finds it;
    // needs FirstDirectoryFits().
    TThumbnail Thumbnail(u64& second, TJpegSpan& span) const {
        second = U32(LinkOf(First()));
        if (second == 0 || second >= m_length) return TThumbnail::None;
        if (!DirectoryFits(second)) return TThumbnail::Broken;
        u64 offset = 0;
        u64 bytes = 0;
        for (u64 e = 0; e < U16(second); ++e) {
            const u64 entry = second + 2 + 12 * e;
            if (U16(entry) == 0x0201) offset = U32(entry + 8); // JPEGInterchangeFormat
            if (U16(entry) == 0x0202) bytes = U32(entry + 8);  // ... and its length
        }
        if (offset == 0 || bytes == 0) return TThumbnail::None;
        if (!Fits(offset, bytes)) return TThumbnail::Broken;
        span = {qsizetype(offset), qsizetype(bytes)};
        return TThumbnail::Found;
    }

private:
    const uchar* m_p;
    u64 m_length;
    bool m_big;
};

bool ThumbnailIsSafe(const uchar* p, qsizetype n);

// ---- Exif blocks as FreeImage walks them ----

enum class TModel : std::uint8_t { Main, Sub, MakerNote, Canon };

struct TDirectory {
    u64 Offset = 0;
    u64 Entry = 0; // where FreeImage resumes it
    TModel Model = TModel::Main;
};

struct TEntry {
    u64 Tag = 0;
    u64 Type = 0;
    u64 Count = 0;
    u64 Length = 0;
    u64 Value = 0; // where the value is: in the entry when it fits into four bytes
    bool ValueInside = true;
};

enum class TFix : std::uint8_t { None, DropBlock, RemoveEntries, CutThumbnail };

struct TExifFinding {
    TFix Fix = TFix::None;
    u64 Where = 0;              // the directory, or the link to cut
    std::vector<u64> Entries{}; // to remove, ascending
    QByteArray Make{};          // what FreeImage knows as the camera's maker afterwards
};

// An ASCII prefix test that ignores case, as FreeImage matches the maker.
bool MakerIs(const QByteArray& make, std::string_view name) {
    if (make.size() < qsizetype(name.size())) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(make[qsizetype(i)]) != lower(name[i])) return false;
    }
    return true;
}

// One pass over an Exif block in FreeImage's order: directories depth first through
// the Exif, GPS, interoperability and maker-note pointers, then the thumbnail named by
// the second directory. It stops at the first flaw and names its repair.
class TExifWalk {
public:
    TExifWalk(const TTiff& tiff, QByteArray make, int depth)
        : m_t(tiff), m_make(std::move(make)), m_depth(depth) {}

    TExifFinding Run() {
        TExifFinding f;
        // FreeImage reads nothing of a first directory past the end; up to the end,
        // it reads the directory's count and the link after it without looking.
        if (m_t.First() > m_t.Length()) return Done(f);
        if (!m_t.FirstDirectoryFits()) return Fixed(f, TFix::DropBlock, 0);
        m_entered.push_back(m_t.First());
        std::vector<TDirectory> stack;
        TDirectory d{m_t.First(), 0, TModel::Main};
        do {
            if (!stack.empty()) {
                d = stack.back();
                stack.pop_back();
            }
            for (u64 e = d.Entry; e < m_t.U16(d.Offset); ++e) {
                const TEntry v = Entry(d.Offset + 2 + 12 * e);
                if (v.Type > 12) break; // FreeImage gives up the directory here
                if (IsBad(d, v)) return RemoveFrom(f, d, e);
                if (const std::optional<TDirectory> next = Descent(v)) {
                    stack.push_back({d.Offset, e + 1, d.Model});
                    stack.push_back(*next);
                    m_entered.push_back(next->Offset);
                    break;
                }
                if (d.Model == TModel::Main && v.Tag == 0x010F) m_make = Bytes(v);
            }
        } while (!stack.empty());
        return CheckThumbnail(f);
    }

private:
    TExifFinding& Done(TExifFinding& f) {
        f.Make = m_make;
        return f;
    }
    static TExifFinding& Fixed(TExifFinding& f, TFix fix, u64 where) {
        f.Fix = fix;
        f.Where = where;
        return f;
    }

    [[nodiscard]] TEntry Entry(u64 at) const {
        static constexpr std::array<u64, 13> kWidth{0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        TEntry v;
        v.Tag = m_t.U16(at);
        v.Type = m_t.U16(at + 2);
        v.Count = m_t.U32(at + 4);
        v.Length = v.Type < kWidth.size() ? v.Count * kWidth[v.Type] : 0;
        v.Value = v.Length <= 4 ? at + 8 : m_t.U32(at + 8);
        v.ValueInside = v.Length <= 4 || m_t.Fits(v.Value, v.Length);
        return v;
    }

    // The value as FreeImage stores it for a text: up to its first zero byte.
    [[nodiscard]] QByteArray Bytes(const TEntry& v) const {
        const auto* p = reinterpret_cast<const char*>(m_t.Data() + v.Value);
        return QByteArray(p, qsizetype(std::find(p, p + v.Length, '\0') - p));
    }

    // The directory FreeImage descends into from `v`, if any.
    [[nodiscard]] std::optional<TDirectory> Descent(const TEntry& v) const {
        if (v.Tag == 0x8769 || v.Tag == 0x8825 || v.Tag == 0xA005) { // Exif, GPS, interop
            const u64 offset = m_t.U32(v.Value);
            if (offset >= m_t.Length()) return std::nullopt;
            return TDirectory{offset, 0, TModel::Sub};
        }
        if (v.Tag != 0x927C) return std::nullopt;
        const std::optional<TDirectory> note = MakerNote(v.Value);
        if (!note || note->Offset >= m_t.Length()) return std::nullopt;
        return TDirectory{v.Value + note->Offset, 0, note->Model};
    }

    // How FreeImage recognises a maker note, in its order: by the note's own header or
    // by the maker named so far. The offset is relative to the note.
    [[nodiscard]] std::optional<TDirectory> MakerNote(u64 at) const {
        const auto starts = [&](std::string_view s) {
            return std::memcmp(m_t.Data() + at, s.data(), s.size()) == 0;
        };
        const auto maker = [&](std::string_view s) { return MakerIs(m_make, s); };
        const auto note = [](u64 offset, TModel model = TModel::MakerNote) {
            return std::optional<TDirectory>(TDirectory{offset, 0, model});
        };
        if (starts("OLYMP\0\1"sv) || starts("OLYMP\0\2"sv) || starts("EPSON") || starts("AGFA"))
            return note(8);
        if (starts("OLYMPUS\0II\3\0"sv)) return std::nullopt;
        if (starts("Nikon")) {
            const uchar type = m_t.Data()[at + 6];
            return type == 1 ? note(8) : type == 2 ? note(18) : std::nullopt;
        }
        if (maker("NIKON")) return note(0);
        if (maker("Canon")) return note(0, TModel::Canon);
        if (maker("Casio")) return note(starts("QVC\0\0\0"sv) ? 6 : 0);
        if (starts("FUJIFILM") || maker("Fujifilm")) return note(m_t.U32(at + 8));
        if (starts("KYOCERA            \0\0\0"sv)) return note(22);
        if (maker("Minolta")) return note(0);
        if (starts("Panasonic\0\0\0"sv)) return note(12);
        if (maker("LEICA")) return std::nullopt;
        if (maker("Pentax") || maker("Asahi")) return note(starts("AOC\0"sv) ? 6 : 0);
        if (starts("SONY CAM \0\0\0"sv) || starts("SONY DSC \0\0\0"sv)) return note(12);
        if (starts("SIGMA\0\0\0"sv) || starts("FOVEON\0\0"sv)) return note(10);
        return std::nullopt;
    }

    // An entry FreeImage would read outside the block for, or follow into a broken or
    // already visited directory.
    [[nodiscard]] bool IsBad(const TDirectory& d, const TEntry& v) const {
        if (!v.ValueInside) return true;
        // Canon's arrays are read as 16-bit words whatever their declared type.
        static constexpr std::array<u64, 6> kCanonArrays{0x01, 0x02, 0x04, 0x12, 0xA0, 0xE0};
        if (d.Model == TModel::Canon && v.Count > 0 && v.Length < 2 * v.Count &&
            std::find(kCanonArrays.begin(), kCanonArrays.end(), v.Tag) != kCanonArrays.end())
            return true;
        // The maker note's header is compared without a look at its length.
        if (v.Tag == 0x927C && !m_t.Fits(v.Value, 22)) return true;
        const std::optional<TDirectory> next = Descent(v);
        if (!next) return false;
        return !m_t.DirectoryFits(next->Offset) || m_entered.size() >= kMaxDirectories ||
               std::find(m_entered.begin(), m_entered.end(), next->Offset) != m_entered.end();
    }

    // Every bad entry of the directory from `first` on goes in one repair.
    TExifFinding& RemoveFrom(TExifFinding& f, const TDirectory& d, u64 first) {
        for (u64 e = first; e < m_t.U16(d.Offset); ++e) {
            const TEntry v = Entry(d.Offset + 2 + 12 * e);
            if (v.Type > 12) break;
            if (IsBad(d, v)) f.Entries.push_back(e);
        }
        return Fixed(f, TFix::RemoveEntries, d.Offset);
    }

    TExifFinding& CheckThumbnail(TExifFinding& f) {
        u64 second = 0;
        TJpegSpan span;
        switch (m_t.Thumbnail(second, span)) {
        case TTiff::TThumbnail::None:
            return Done(f);
        case TTiff::TThumbnail::Found:
            // A thumbnail's own thumbnails would be decoded too: there are none.
            if (m_depth == 0 &&
                std::find(m_entered.begin(), m_entered.end(), second) == m_entered.end() &&
                ThumbnailIsSafe(m_t.Data() + span.Offset, span.Size))
                return Done(f);
            break;
        case TTiff::TThumbnail::Broken:
            break;
        }
        return Fixed(f, TFix::CutThumbnail, m_t.LinkOf(m_t.First()));
    }

    const TTiff& m_t;
    QByteArray m_make;
    int m_depth;
    std::vector<u64> m_entered; // directories, in the order FreeImage enters them
};

void Put(QByteArray& data, u64 at, u64 value, int bytes, bool big) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (big ? bytes - 1 - i : i);
        data[qsizetype(at) + i] = char((value >> shift) & 0xFF);
    }
}

void Repair(QByteArray& data, bool big, const TExifFinding& f) {
    const TTiff t(reinterpret_cast<const uchar*>(data.constData()), u64(data.size()), big);
    if (f.Fix == TFix::CutThumbnail) {
        Put(data, f.Where, 0, 4, big);
        return;
    }
    // Compacts the directory; the link to the next one moves up behind the last entry.
    const u64 dir = f.Where;
    const u64 count = t.U16(dir);
    const bool hasLink = t.Fits(t.LinkOf(dir), 4);
    const u64 link = hasLink ? t.U32(t.LinkOf(dir)) : 0;
    u64 kept = 0;
    for (u64 e = 0; e < count; ++e) {
        if (std::find(f.Entries.begin(), f.Entries.end(), e) != f.Entries.end()) continue;
        if (kept != e)
            std::memmove(data.data() + dir + 2 + 12 * kept, data.constData() + dir + 2 + 12 * e,
                         12);
        ++kept;
    }
    Put(data, dir, kept, 2, big);
    if (hasLink) Put(data, dir + 2 + 12 * kept, link, 4, big);
}

enum class TExifOutcome : std::uint8_t { Sound, Repaired, Dropped };

// Walks and repairs one Exif block until FreeImage can read it; `make` carries the
// maker FreeImage knows from block to block.
TExifOutcome CheckExif(const uchar* tiff, qsizetype length, int depth, QByteArray& make,
                       QByteArray& repaired) {
    if (length < 8) return TExifOutcome::Dropped; // FreeImage reads the header regardless
    const std::optional<TTiff> opened = TTiff::Open(tiff, u64(length));
    if (!opened) return TExifOutcome::Sound; // FreeImage reads nothing of it
    std::optional<TTiff> t = opened;
    for (int round = 0; round <= kMaxRepairs; ++round) {
        const TExifFinding f = TExifWalk(*t, make, depth).Run();
        if (f.Fix == TFix::None) {
            make = f.Make;
            return round == 0 ? TExifOutcome::Sound : TExifOutcome::Repaired;
        }
        if (f.Fix == TFix::DropBlock || round == kMaxRepairs) break;
        if (repaired.isEmpty()) repaired = QByteArray(reinterpret_cast<const char*>(tiff), length);
        Repair(repaired, t->Big(), f);
        t.emplace(reinterpret_cast<const uchar*>(repaired.constData()), u64(length), t->Big());
    }
    return TExifOutcome::Dropped;
}

// ---- Whole streams ----

struct TEdit {
    qsizetype Start = 0;
    qsizetype End = 0;
    QByteArray Replacement{}; // empty: the segment goes
};

struct TStreamWalk {
    bool ReachedScan = false;
    qsizetype HeaderEnd = 0;
    bool MultiScan = false;
    int MaxSide = 0; // of any frame
    int Scans = 0;
    std::vector<TEdit> Edits{};
};

void CheckMetadata(const uchar* p, const TSegment& s, int depth, QByteArray& make, TStreamWalk& w) {
    const uchar* payload = p + s.Payload;
    const qsizetype length = s.End - s.Payload;
    if (s.Code == 0xE0 && IsJfxxThumbnail(payload, length)) {
        if (depth > 0 || !ThumbnailIsSafe(payload + 6, length - 6))
            w.Edits.push_back({s.Start, s.End});
        return;
    }
    if (s.Code != 0xE1) return;
    // FreeImage takes a cut signature for a whole one and reads on past the segment.
    if (length < 6) {
        if (std::memcmp(payload, "Exif\0\0", std::size_t(length)) == 0)
            w.Edits.push_back({s.Start, s.End});
        return;
    }
    if (!IsExif(payload, length)) return;
    QByteArray repaired;
    switch (CheckExif(payload + 6, length - 6, depth, make, repaired)) {
    case TExifOutcome::Sound:
        return;
    case TExifOutcome::Repaired:
        repaired.prepend(reinterpret_cast<const char*>(p + s.Start), s.Payload + 6 - s.Start);
        w.Edits.push_back({s.Start, s.End, repaired});
        return;
    case TExifOutcome::Dropped:
        w.Edits.push_back({s.Start, s.End});
        return;
    }
}

// The segments of the stream p[0, n) up to its first scan's header, or with `whole` up
// to its end; `depth` is 1 inside an embedded thumbnail.
TStreamWalk WalkStream(const uchar* p, qsizetype n, bool whole, int depth) {
    TStreamWalk w;
    if (n < 2 || p[0] != 0xFF || p[1] != 0xD8) return w;
    QByteArray make;
    bool progressive = false;
    int components = 0;
    qsizetype pos = 2;
    TSegment s;
    while (NextSegment(p, n, pos, s) == TNext::Segment) {
        if (s.Code == 0xD8 || s.Code == 0xD9) break;
        const uchar* payload = p + s.Payload;
        const qsizetype length = s.End - s.Payload;
        if (IsFrameHeader(s.Code)) {
            if (length >= 6) {
                w.MaxSide = std::max(
                    {w.MaxSide, (payload[1] << 8) | payload[2], (payload[3] << 8) | payload[4]});
                if (components == 0) components = payload[5];
            }
            progressive = progressive || IsProgressive(s.Code);
        } else if (s.Code == 0xDA) {
            ++w.Scans;
            if (!w.ReachedScan) {
                w.ReachedScan = true;
                w.HeaderEnd = s.End;
                // Each component of a sequential frame is in exactly one scan.
                w.MultiScan = progressive || length < 1 || payload[0] < components;
                if (!whole) break;
            }
        } else {
            CheckMetadata(p, s, depth, make, w);
        }
    }
    return w;
}

// Whether FreeImage may decode an embedded thumbnail as it is: a JPEG no larger than a
// thumbnail, with few scans and neither metadata to stumble over nor thumbnails of its
// own (FreeImage would decode those as well).
bool ThumbnailIsSafe(const uchar* p, qsizetype n) {
    const TStreamWalk w = WalkStream(p, n, true, 1);
    return w.ReachedScan && w.Edits.empty() && w.MaxSide <= kMaxJpegThumbnailSide &&
           w.Scans <= kMaxThumbnailScans;
}

QByteArray Apply(const QByteArray& stream, qsizetype end, const std::vector<TEdit>& edits) {
    QByteArray clean;
    clean.reserve(end);
    qsizetype pos = 0;
    for (const TEdit& edit : edits) {
        clean.append(stream.constData() + pos, edit.Start - pos);
        clean.append(edit.Replacement);
        pos = edit.End;
    }
    clean.append(stream.constData() + pos, end - pos);
    return clean;
}

// Whether the headers p[0, n) say all they will: they reach the first scan, or break
// off or are no JPEG, so that more data would not help.
bool HeadersComplete(const uchar* p, qsizetype n) {
    if (n < 2) return false;
    if (p[0] != 0xFF || p[1] != 0xD8) return true;
    qsizetype pos = 2;
    TSegment s;
    for (;;) {
        const TNext next = NextSegment(p, n, pos, s);
        if (next != TNext::Segment) return next == TNext::Damaged;
        if (s.Code == 0xDA || s.Code == 0xD8 || s.Code == 0xD9) return true;
    }
}

struct TCloseFd {
    void operator()(const int* fd) const noexcept { ::close(*fd); }
};

// Appends up to `want - data.size()` bytes; false at the end of the file or on an error.
bool ReadMore(int fd, QByteArray& data, qsizetype want) {
    qsizetype have = data.size();
    data.resize(want);
    while (have < want) {
        const ssize_t n = ::read(fd, data.data() + have, std::size_t(want - have));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += n;
    }
    data.resize(have);
    return have == want;
}

struct TCloseMemory {
    void operator()(FIMEMORY* memory) const noexcept { FreeImage_CloseMemory(memory); }
};

TFreeImagePtr LoadFromMemory(QByteArray stream, int flags) {
    EnsureFreeImage();
    const std::unique_ptr<FIMEMORY, TCloseMemory> memory(
        FreeImage_OpenMemory(reinterpret_cast<BYTE*>(stream.data()), DWORD(stream.size())));
    if (!memory) return {};
    return TFreeImagePtr(FreeImage_LoadFromMemory(FIF_JPEG, memory.get(), flags));
}

} // namespace

TJpegCheck CheckJpegStream(const QByteArray& stream, bool whole) {
    TJpegCheck check;
    const TStreamWalk w =
        WalkStream(reinterpret_cast<const uchar*>(stream.constData()), stream.size(), whole, 0);
    if (!w.ReachedScan) return check;
    check.HeaderEnd = w.HeaderEnd;
    check.MultiScan = w.MultiScan;
    check.Verdict = w.Edits.empty() ? TJpegVerdict::Sound : TJpegVerdict::Cleaned;
    if (!w.Edits.empty()) check.Clean = Apply(stream, whole ? stream.size() : w.HeaderEnd, w.Edits);
    return check;
}

TFreeImagePtr LoadJpegHeaderGuarded(const QByteArray& encodedPath) {
    QByteArray headers;
    if (!ReadJpegHeaders(encodedPath, headers)) return {};
    TJpegCheck check = CheckJpegStream(headers, false);
    switch (check.Verdict) {
    case TJpegVerdict::NoScan:
        return {};
    case TJpegVerdict::Sound:
        if (!check.MultiScan)
            return TFreeImagePtr(
                FreeImage_Load(FIF_JPEG, encodedPath.constData(), FIF_LOAD_NOPIXELS));
        // FreeImage would read every scan, and the segments between them that were not
        // looked at: it gets the headers alone.
        headers.truncate(check.HeaderEnd);
        return LoadFromMemory(std::move(headers), FIF_LOAD_NOPIXELS);
    case TJpegVerdict::Cleaned:
        return LoadFromMemory(std::move(check.Clean), FIF_LOAD_NOPIXELS);
    }
    return {};
}

TFreeImagePtr LoadJpegHeadersGuarded(QByteArray headers) {
    TJpegCheck check = CheckJpegStream(headers, false);
    switch (check.Verdict) {
    case TJpegVerdict::NoScan:
        return {};
    case TJpegVerdict::Sound:
        headers.truncate(check.HeaderEnd);
        return LoadFromMemory(std::move(headers), FIF_LOAD_NOPIXELS);
    case TJpegVerdict::Cleaned:
        return LoadFromMemory(std::move(check.Clean), FIF_LOAD_NOPIXELS);
    }
    return {};
}

TFreeImagePtr LoadJpegGuarded(const QByteArray& encodedPath, int flags) {
    QFile file(QFile::decodeName(encodedPath));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const qint64 size = file.size();
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    if (data == nullptr) return {};
    TJpegCheck check = CheckJpegStream(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)), true);
    file.close();
    switch (check.Verdict) {
    case TJpegVerdict::NoScan:
        return {};
    case TJpegVerdict::Sound:
        return TFreeImagePtr(FreeImage_Load(FIF_JPEG, encodedPath.constData(), flags));
    case TJpegVerdict::Cleaned:
        return LoadFromMemory(std::move(check.Clean), flags);
    }
    return {};
}

bool ReadJpegHeaders(const QByteArray& encodedPath, QByteArray& headers) {
    headers.clear();
    // Non-blocking, so that a pipe put in the file's place meanwhile cannot hang us.
    int fd = ::open(encodedPath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const std::unique_ptr<int, TCloseFd> closer(&fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    for (qsizetype want = kFirstHeaderRead;; want = std::min(want * 4, kMaxHeaderBytes)) {
        const bool more = ReadMore(fd, headers, want);
        if (!more || want >= kMaxHeaderBytes ||
            HeadersComplete(reinterpret_cast<const uchar*>(headers.constData()), headers.size()))
            return true;
    }
}

QList<TJpegSpan> FindJpegThumbnails(const uchar* p, qsizetype n) {
    QList<TJpegSpan> found;
    if (n < 2 || p[0] != 0xFF || p[1] != 0xD8) return found;
    qsizetype pos = 2;
    TSegment s;
    while (NextSegment(p, n, pos, s) == TNext::Segment) {
        if (s.Code == 0xDA || s.Code == 0xD8 || s.Code == 0xD9) break;
        const uchar* payload = p + s.Payload;
        const qsizetype length = s.End - s.Payload;
        if (s.Code == 0xE0 && IsJfxxThumbnail(payload, length)) {
            found.append({s.Payload + 6, length - 6});
        } else if (s.Code == 0xE1 && IsExif(payload, length)) {
            const std::optional<TTiff> t = TTiff::Open(payload + 6, u64(length - 6));
            u64 second = 0;
            TJpegSpan span;
            if (t && t->FirstDirectoryFits() &&
                t->Thumbnail(second, span) == TTiff::TThumbnail::Found)
                found.append({s.Payload + 6 + span.Offset, span.Size});
        }
    }
    return found;
}

QByteArray StripJpegThumbnail(const uchar* p, qsizetype n) {
    if (n < 2 || p[0] != 0xFF || p[1] != 0xD8) return {};
    QByteArray clean("\xFF\xD8", 2);
    qsizetype pos = 2;
    bool sawFrame = false;
    TSegment s;
    for (;;) {
        if (NextSegment(p, n, pos, s) != TNext::Segment) return {};
        if (s.Code == 0xD8 || s.Code == 0xD9) return {};
        if (IsFrameHeader(s.Code)) {
            if (sawFrame || s.End - s.Payload < 5) return {};
            sawFrame = true;
            const int height = int((p[s.Payload + 1] << 8) | p[s.Payload + 2]);
            const int width = int((p[s.Payload + 3] << 8) | p[s.Payload + 4]);
            if (width > kMaxJpegThumbnailSide || height > kMaxJpegThumbnailSide) return {};
        }
        if (DecoderSegment(s.Code, p + s.Payload, s.End - s.Payload))
            clean.append(reinterpret_cast<const char*>(p + s.Start), s.End - s.Start);
        if (s.Code == 0xDA) {
            if (!sawFrame) return {};
            // The scans, and whatever follows them, go as they are.
            clean.append(reinterpret_cast<const char*>(p + s.End), n - s.End);
            return clean;
        }
    }
}
