#include "loading/PngRowPipeline.h"

#include "gfx/Bitmap32.h"
#include "loading/ImageConversion.h"
#include "loading/ImageLimits.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <zlib.h>

namespace {

// Filtered rows in flight between the two threads: as many as fit in kRingBytes, at
// most kMaxRingRows, at least the row being inflated and the one above the row being
// written.
constexpr std::size_t kRingBytes = std::size_t(4) << 20;
constexpr std::int64_t kMaxRingRows = 64;
// Rows written between two reports to the caller.
constexpr int kRowsPerReport = 16;
// The file is read in pieces of this size.
constexpr std::size_t kReadSize = 1 << 16;

struct TCloseFile {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

std::uint32_t Big32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

// What the two threads share. Rows are numbered from 0; the reader fills row r into
// slot r % RingRows once the writer has let go of row r - RingRows.
struct TShared {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::int64_t Filled = 0;   // rows the reader has completed
    std::int64_t Released = 0; // rows the writer no longer needs
    bool Failed = false;       // either side gave up (a fault, or the stop request)
};

struct TPicture {
    std::uint32_t Width = 0, Height = 0;
    int Channels = 0;
    std::size_t RowBytes = 0; // filter byte included
    std::int64_t RingRows = 2;
};

// The reader's side: the picture data's chunks, their CRCs, zlib, then IEND.
class TReader {
public:
    TReader(std::FILE* file, const TPicture& picture, unsigned char* ring, TShared& shared,
            const std::atomic<bool>& stop)
        : m_file(file), m_picture(picture), m_ring(ring), m_shared(shared), m_stop(stop) {}

    // True when every row arrived and the file ended as it should.
    bool Run(std::uint32_t firstLength) {
        z_stream z{};
        if (inflateInit(&z) != Z_OK) return false;
        // libpng, as set up for FreeImage's reader, does not look at the zlib checksum.
        inflateValidate(&z, 0);
        const bool ok = Inflate(z, firstLength);
        inflateEnd(&z);
        return ok;
    }

private:
    bool Inflate(z_stream& z, std::uint32_t length) {
        std::vector<unsigned char> input(kReadSize);
        const std::int64_t rows = m_picture.Height;
        std::int64_t row = 0;
        std::size_t rowFilled = 0;
        bool ended = false;
        for (;;) {
            // One IDAT chunk of `length` bytes, its type already read.
            std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4);
            while (length > 0) {
                const std::size_t n = std::min<std::size_t>(length, input.size());
                if (std::fread(input.data(), 1, n, m_file) != n) return false;
                crc = crc32(crc, input.data(), uInt(n));
                length -= std::uint32_t(n);
                z.next_in = input.data();
                z.avail_in = uInt(n);
                while (z.avail_in > 0) {
                    if (ended) return false; // data after the stream's end
                    if (row == rows) {
                        // All rows are there: only the stream's end may follow (any byte
                        // more is data beyond the picture).
                        unsigned char spare = 0;
                        z.next_out = &spare;
                        z.avail_out = 1;
                        const int status = inflate(&z, Z_NO_FLUSH);
                        if (z.avail_out == 0 || (status != Z_OK && status != Z_STREAM_END))
                            return false;
                        ended = status == Z_STREAM_END;
                        if (!ended && z.avail_in > 0) return false;
                        continue;
                    }
                    if (!WaitForSlot(row)) return false;
                    unsigned char* slot =
                        m_ring + std::size_t(row % m_picture.RingRows) * m_picture.RowBytes;
                    z.next_out = slot + rowFilled;
                    z.avail_out = uInt(m_picture.RowBytes - rowFilled);
                    const int status = inflate(&z, Z_NO_FLUSH);
                    if (status != Z_OK && status != Z_STREAM_END) return false;
                    rowFilled = m_picture.RowBytes - z.avail_out;
                    if (rowFilled == m_picture.RowBytes) {
                        rowFilled = 0;
                        Publish(++row);
                    }
                    if (status == Z_STREAM_END) ended = true;
                }
            }
            unsigned char tail[12];
            if (std::fread(tail, 1, sizeof tail, m_file) != sizeof tail) return false;
            if (Big32(tail) != crc) return false;
            length = Big32(tail + 4);
            if (std::memcmp(tail + 8, "IDAT", 4) != 0) {
                // Only IEND may follow, empty and sound.
                unsigned char end[4];
                if (std::memcmp(tail + 8, "IEND", 4) != 0 || length != 0) return false;
                if (std::fread(end, 1, sizeof end, m_file) != sizeof end) return false;
                if (Big32(end) != crc32(0, reinterpret_cast<const Bytef*>("IEND"), 4)) return false;
                // The stream ends with the last row.
                return ended && row == rows && z.avail_in == 0;
            }
            if (length > 0x7FFFFFFFu) return false;
        }
    }

    bool WaitForSlot(std::int64_t row) {
        if (m_stop.load(std::memory_order_relaxed)) return false;
        std::unique_lock lock(m_shared.Mutex);
        m_shared.Changed.wait(
            lock, [&] { return m_shared.Failed || row - m_shared.Released < m_picture.RingRows; });
        return !m_shared.Failed;
    }

    void Publish(std::int64_t filled) {
        {
            const std::lock_guard lock(m_shared.Mutex);
            m_shared.Filled = filled;
        }
        m_shared.Changed.notify_all();
    }

    std::FILE* m_file;
    const TPicture& m_picture;
    unsigned char* m_ring;
    TShared& m_shared;
    const std::atomic<bool>& m_stop;
};

int PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes one row's filter in place; `prior` is the row above, unfiltered (zeros for the
// first). False for a filter type PNG does not have.
template <int Bpp>
bool Unfilter(unsigned char* row, const unsigned char* prior, std::size_t n) {
    const int filter = row[0];
    unsigned char* x = row + 1;
    const unsigned char* b = prior + 1;
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t i = Bpp; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + x[i - Bpp]);
        return true;
    case 2:
        for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + b[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < Bpp; ++i) x[i] = static_cast<unsigned char>(x[i] + (b[i] >> 1));
        for (std::size_t i = Bpp; i < n; ++i)
            x[i] = static_cast<unsigned char>(x[i] + ((x[i - Bpp] + b[i]) >> 1));
        return true;
    case 4:
        for (std::size_t i = 0; i < Bpp; ++i) x[i] = static_cast<unsigned char>(x[i] + b[i]);
        for (std::size_t i = Bpp; i < n; ++i)
            x[i] = static_cast<unsigned char>(x[i] + PaethPredictor(x[i - Bpp], b[i], b[i - Bpp]));
        return true;
    default:
        return false;
    }
}

void ToBgra(const unsigned char* src, TColor32* dst, std::uint32_t width, int channels) {
    if (channels == 3) {
        for (std::uint32_t x = 0; x < width; ++x, src += 3)
            dst[x] = 0xFF000000u | (TColor32(src[0]) << 16) | (TColor32(src[1]) << 8) | src[2];
    } else {
        for (std::uint32_t x = 0; x < width; ++x, src += 4)
            dst[x] = (TColor32(src[3]) << 24) | (TColor32(src[0]) << 16) | (TColor32(src[1]) << 8) |
                     src[2];
    }
}

// The picture's header and the first IDAT chunk's length, the file then standing at
// that chunk's data; false for anything this path does not take.
bool ReadToPictureData(std::FILE* f, TPicture& picture, std::uint32_t& firstLength) {
    unsigned char head[8 + 8 + 13 + 4];
    if (std::fread(head, 1, sizeof head, f) != sizeof head) return false;
    if (std::memcmp(head, "\x89PNG\r\n\x1A\n", 8) != 0 || Big32(head + 8) != 13 ||
        std::memcmp(head + 12, "IHDR", 4) != 0)
        return false;
    const unsigned char* ihdr = head + 16;
    if (Big32(head + 29) != crc32(0, head + 12, 17)) return false;
    picture.Width = Big32(ihdr);
    picture.Height = Big32(ihdr + 4);
    const int depth = ihdr[8], colourType = ihdr[9];
    if (depth != 8 || (colourType != 2 && colourType != 6) || ihdr[10] != 0 || ihdr[11] != 0 ||
        ihdr[12] != 0)
        return false;
    if (picture.Width == 0 || picture.Height == 0 ||
        !WithinImageLimit(picture.Width, picture.Height))
        return false;
    picture.Channels = colourType == 2 ? 3 : 4;
    picture.RowBytes = std::size_t(picture.Width) * std::size_t(picture.Channels) + 1;
    picture.RingRows =
        std::clamp(std::int64_t(kRingBytes / picture.RowBytes), std::int64_t(2), kMaxRingRows);
    // The chunks before the picture's data were read by libpng already; what changes
    // the pixels sends the file to it.
    for (;;) {
        unsigned char chunk[8];
        if (std::fread(chunk, 1, sizeof chunk, f) != sizeof chunk) return false;
        const std::uint32_t length = Big32(chunk);
        if (length > 0x7FFFFFFFu) return false;
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0) {
            firstLength = length;
            return true;
        }
        if (std::memcmp(chunk + 4, "tRNS", 4) == 0 || std::memcmp(chunk + 4, "gAMA", 4) == 0 ||
            std::memcmp(chunk + 4, "IEND", 4) == 0 || (chunk[4] & 0x20) == 0)
            return false; // transparency, gamma, or a critical chunk (PLTE, unknown)
        if (std::fseek(f, long(length) + 4, SEEK_CUR) != 0) return false;
    }
}

} // namespace

TPngPipelineResult DecodePngRowsInTwoThreads(const QByteArray& encodedPath, TBitmap32& target,
                                             const std::atomic<bool>& stop,
                                             const TPngRowsReady& rowsReady) {
    using enum TPngPipelineResult;
    const std::unique_ptr<std::FILE, TCloseFile> file(std::fopen(encodedPath.constData(), "rb"));
    if (!file) return NotTaken;
    TPicture picture;
    std::uint32_t firstLength = 0;
    if (!ReadToPictureData(file.get(), picture, firstLength)) return NotTaken;

    std::unique_ptr<unsigned char[]> ring;
    std::vector<unsigned char> zeros;
    try {
        PrepareTarget(target, int(picture.Width), int(picture.Height));
        ring.reset(new unsigned char[picture.RowBytes * std::size_t(picture.RingRows)]);
        zeros.assign(picture.RowBytes, 0);
    } catch (const std::bad_alloc&) {
        target.SetSize(0, 0);
        return TooLarge;
    }

    TShared shared;
    bool readerOk = false;
    TReader reader(file.get(), picture, ring.get(), shared, stop);
    std::thread thread;
    try {
        thread = std::thread([&] {
            readerOk = reader.Run(firstLength);
            {
                const std::lock_guard lock(shared.Mutex);
                if (!readerOk) shared.Failed = true;
            }
            shared.Changed.notify_all();
        });
    } catch (const std::system_error&) {
        return NotTaken;
    }

    bool ok = true;
    int reported = 0;
    const std::int64_t rows = picture.Height;
    const std::size_t n = picture.RowBytes - 1;
    for (std::int64_t row = 0; row < rows && ok; ++row) {
        {
            std::unique_lock lock(shared.Mutex);
            shared.Changed.wait(lock, [&] { return shared.Failed || shared.Filled > row; });
            // Rows the reader completed stay good to use even when it failed later.
            if (shared.Filled <= row) ok = false;
        }
        if (!ok || stop.load(std::memory_order_relaxed)) {
            ok = false;
            break;
        }
        unsigned char* slot = ring.get() + std::size_t(row % picture.RingRows) * picture.RowBytes;
        const unsigned char* prior =
            row == 0 ? zeros.data()
                     : ring.get() + std::size_t((row - 1) % picture.RingRows) * picture.RowBytes;
        const bool unfiltered =
            picture.Channels == 3 ? Unfilter<3>(slot, prior, n) : Unfilter<4>(slot, prior, n);
        if (!unfiltered) {
            ok = false;
            break;
        }
        ToBgra(slot + 1, target.ScanLine(int(row)), picture.Width, picture.Channels);
        {
            // The row above is no longer needed.
            const std::lock_guard lock(shared.Mutex);
            shared.Released = row;
        }
        shared.Changed.notify_all();
        if (rowsReady && (row + 1 - reported >= kRowsPerReport || row + 1 == rows)) {
            try {
                rowsReady(target, reported, int(row + 1 - reported), false);
            } catch (...) {
                // Only a look at the picture on its way.
            }
            reported = int(row + 1);
        }
    }
    if (!ok) {
        {
            const std::lock_guard lock(shared.Mutex);
            shared.Failed = true;
        }
        shared.Changed.notify_all();
    }
    thread.join();
    if (stop.load()) return Stopped;
    if (!ok || !readerOk) return NotTaken;
    target.Changed();
    return Decoded;
}
