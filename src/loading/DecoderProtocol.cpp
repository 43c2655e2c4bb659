#include "loading/DecoderProtocol.h"

#include "loading/ImageLimits.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;
constexpr std::size_t kPageSize = 4096;
constexpr int kRequiredSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

struct TWireHeader {
    std::uint32_t Kind;
    std::uint32_t Length;
};

bool WriteAll(int socket, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool ReadAll(int socket, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(socket, data, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool KnownKind(std::uint32_t kind) {
    switch (TDecoderMessage(kind)) {
    case TDecoderMessage::dmRequest:
    case TDecoderMessage::dmSpare:
    case TDecoderMessage::dmQuickLook:
    case TDecoderMessage::dmResult:
        return true;
    }
    return false;
}

std::size_t PixelBytes(const TPixelsHeader& pixels) {
    return std::size_t(pixels.Width) * std::size_t(pixels.Height) * sizeof(TColor32);
}

std::size_t RoundToPages(std::size_t bytes) {
    return (bytes + kPageSize - 1) & ~(kPageSize - 1);
}

void WriteOpacity(QDataStream& out, const std::optional<bool>& opaque) {
    out << qint8(!opaque ? -1 : *opaque ? 1 : 0);
}

std::optional<bool> ReadOpacity(QDataStream& in) {
    qint8 value = -1;
    in >> value;
    if (value < 0) return std::nullopt;
    return value != 0;
}

// The blocks UseSharedBitmapMemory hands out, with their descriptors.
struct TSharedBlock {
    const TColor32* Bits;
    std::size_t Length;
    int Fd;
};
std::mutex g_blocksMutex;
std::vector<TSharedBlock> g_blocks;
// Whether this process has set its bitmap memory (the helper's shared, or the program's
// adopted blocks).
std::atomic<bool> g_bitmapMemoryInstalled{false};

// Records a block; one at the same address is stale (let go of without this process's
// bitmap memory) and goes.
void KeepShared(const TColor32* bits, std::size_t length, int fd) {
    const std::lock_guard lock(g_blocksMutex);
    std::erase_if(g_blocks, [bits](const TSharedBlock& block) {
        if (block.Bits != bits) return false;
        ::close(block.Fd);
        return true;
    });
    g_blocks.push_back({bits, length, fd});
}

TColor32* MapShared(std::size_t bytes, std::size_t& mapped) {
    const std::size_t length = RoundToPages(bytes);
    const int fd = ::memfd_create("pictrel-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return nullptr;
    void* bits = ::ftruncate(fd, off_t(length)) == 0
                     ? ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                     : MAP_FAILED;
    if (bits == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    // Huge pages where the system gives them to shared memory on request (many leave
    // shared memory at 4 KB pages), then populated at once: one call instead of a page
    // fault for every page the decoder writes.
    ::madvise(bits, length, MADV_HUGEPAGE);
    ::madvise(bits, length, MADV_POPULATE_WRITE);
    mapped = length;
    KeepShared(static_cast<TColor32*>(bits), length, fd);
    return static_cast<TColor32*>(bits);
}

void UnmapShared(TColor32* bits, std::size_t mapped) {
    ::munmap(bits, mapped);
    const std::lock_guard lock(g_blocksMutex);
    for (auto it = g_blocks.begin(); it != g_blocks.end(); ++it)
        if (it->Bits == bits) {
            ::close(it->Fd);
            g_blocks.erase(it);
            return;
        }
}

// In the program: a large shared block is let go of on a thread of its own. Unmapping
// 96 MB of 4 KB pages takes some 10 ms, which a step to the next picture would otherwise
// spend on the GUI thread (private blocks go fast: they have huge pages).
void UnmapAdopted(TColor32* bits, std::size_t mapped) {
    int fd = -1;
    {
        const std::lock_guard lock(g_blocksMutex);
        for (auto it = g_blocks.begin(); it != g_blocks.end(); ++it)
            if (it->Bits == bits) {
                fd = it->Fd;
                g_blocks.erase(it);
                break;
            }
    }
    if (fd < 0 || mapped < (std::size_t(8) << 20)) {
        ::munmap(bits, mapped);
        if (fd >= 0) ::close(fd);
        return;
    }
    try {
        std::thread([bits, mapped, fd] {
            ::munmap(bits, mapped);
            ::close(fd);
        }).detach();
    } catch (const std::system_error&) {
        ::munmap(bits, mapped);
        ::close(fd);
    }
}

const TBitmapMemory kSharedMemory{&MapShared, &UnmapShared};
// The program's: private mappings as usual, and adopted shared blocks let go of their
// descriptors with their mappings.
const TBitmapMemory kAdoptedMemory{nullptr, &UnmapAdopted};

} // namespace

bool SendDecoderMessage(int socket, TDecoderMessage kind, const QByteArray& body, int fd) {
    if (std::size_t(body.size()) > kMaxDecoderMessageBody) return false;
    TWireHeader header{std::uint32_t(kind), std::uint32_t(body.size())};
    iovec iov{&header, sizeof header};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = SOL_SOCKET;
        cmsg->cmsg_type = SCM_RIGHTS;
        cmsg->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(cmsg), &fd, sizeof(int));
    }
    ssize_t n;
    do n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    // The descriptor went with the first byte; the rest is plain data.
    if (std::size_t(n) < sizeof header &&
        !WriteAll(socket, reinterpret_cast<const char*>(&header) + n,
                  sizeof header - std::size_t(n)))
        return false;
    return WriteAll(socket, body.constData(), std::size_t(body.size()));
}

bool ReceiveDecoderMessage(int socket, TDecoderEnvelope& message) {
    message.Fd = -1;
    TWireHeader header{};
    iovec iov{&header, sizeof header};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    int fd = -1;
    for (cmsghdr* cmsg = CMSG_FIRSTHDR(&msg); cmsg != nullptr; cmsg = CMSG_NXTHDR(&msg, cmsg)) {
        if (cmsg->cmsg_level != SOL_SOCKET || cmsg->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (cmsg->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received = -1;
            std::memcpy(&received, CMSG_DATA(cmsg) + i * sizeof(int), sizeof(int));
            // One descriptor a message: any further one is closed at once.
            if (fd < 0)
                fd = received;
            else
                ::close(received);
        }
    }
    const auto fail = [&fd] {
        if (fd >= 0) ::close(fd);
        return false;
    };
    if ((msg.msg_flags & MSG_CTRUNC) != 0) return fail();
    if (std::size_t(n) < sizeof header &&
        !ReadAll(socket, reinterpret_cast<char*>(&header) + n, sizeof header - std::size_t(n)))
        return fail();
    if (!KnownKind(header.Kind) || header.Length > kMaxDecoderMessageBody) return fail();
    message.Body.resize(qsizetype(header.Length));
    if (!ReadAll(socket, message.Body.data(), header.Length)) return fail();
    message.Kind = TDecoderMessage(header.Kind);
    message.Fd = fd;
    return true;
}

QByteArray EncodeDecodeOrder(const TDecodeOrder& order) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    const TImageLoadRequest& request = order.Request;
    const TVekImageSettings& s = request.Settings;
    out << request.FileName << qint32(request.PageIndex) << request.CombineAlpha
        << request.UseSecondary << order.QuickLook << qint32(request.Quick.Width)
        << qint32(request.Quick.Height) << qint32(request.Quick.FirstAfterMs)
        << order.DisplayProfile << quint64(order.AvailableMemory) << qint32(order.Sequence);
    out << s.HalfSize << qint32(s.Interpolation) << qint32(s.Temperature) << s.Green
        << s.CameraWhiteBalance << s.Gamma << s.LinearLimit << s.Exposure << s.Gain
        << quint32(s.BackgroundColor) << s.ToneMapGamma << s.ToneMapExposure << s.ExifOrientation
        << s.ColourManagement << quint32(s.Curve.size());
    for (const TCurvePoint& p : s.Curve) out << qint32(p.X) << qint32(p.Y);
    return body;
}

bool ParseDecodeOrder(const QByteArray& body, TDecodeOrder& order) {
    QDataStream in(body);
    in.setVersion(kStreamVersion);
    TImageLoadRequest& request = order.Request;
    TVekImageSettings& s = request.Settings;
    qint32 page = 0, quickWidth = 0, quickHeight = 0, quickAfter = 0, interpolation = 0,
           temperature = 0;
    quint32 background = 0, curveSize = 0;
    quint64 available = 0;
    qint32 sequence = 0;
    in >> request.FileName >> page >> request.CombineAlpha >> request.UseSecondary >>
        order.QuickLook >> quickWidth >> quickHeight >> quickAfter >> order.DisplayProfile >>
        available >> sequence;
    in >> s.HalfSize >> interpolation >> temperature >> s.Green >> s.CameraWhiteBalance >>
        s.Gamma >> s.LinearLimit >> s.Exposure >> s.Gain >> background >> s.ToneMapGamma >>
        s.ToneMapExposure >> s.ExifOrientation >> s.ColourManagement >> curveSize;
    if (in.status() != QDataStream::Ok || curveSize > 256) return false;
    s.Curve.resize(curveSize);
    for (TCurvePoint& p : s.Curve) {
        qint32 x = 0, y = 0;
        in >> x >> y;
        p = {x, y};
    }
    request.PageIndex = page;
    request.Quick.Width = quickWidth;
    request.Quick.Height = quickHeight;
    request.Quick.FirstAfterMs = std::max(quickAfter, 0);
    s.Interpolation = interpolation;
    s.Temperature = temperature;
    s.BackgroundColor = background;
    order.AvailableMemory = available;
    order.Sequence = sequence;
    return in.status() == QDataStream::Ok && in.atEnd();
}

QByteArray EncodeDecodeResult(const TImageLoadResult& result, const TPixelsHeader& pixels,
                              const QString& reason) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << quint8(result.Status) << result.HasAlpha << quint8(result.ImageKind)
        << qint32(result.ImageFormat) << qint32(result.PageIndex) << result.PageCount.has_value()
        << qint32(result.PageCount.value_or(0)) << result.ExifList << result.IptcList
        << result.XmpList << result.GeoTiffList << result.InfoList << result.IccProfile
        << qint32(pixels.Width) << qint32(pixels.Height);
    WriteOpacity(out, pixels.Opaque);
    out << reason;
    return body;
}

bool ParseDecodeResult(const QByteArray& body, TImageLoadResult& result, TPixelsHeader& pixels,
                       QString& reason) {
    QDataStream in(body);
    in.setVersion(kStreamVersion);
    quint8 status = 0, kind = 0;
    qint32 format = 0, pageIndex = 0, pageCount = 0, width = 0, height = 0;
    bool hasPageCount = false;
    in >> status >> result.HasAlpha >> kind >> format >> pageIndex >> hasPageCount >> pageCount >>
        result.ExifList >> result.IptcList >> result.XmpList >> result.GeoTiffList >>
        result.InfoList >> result.IccProfile >> width >> height;
    pixels.Opaque = ReadOpacity(in);
    in >> reason;
    if (in.status() != QDataStream::Ok || !in.atEnd()) return false;
    if (status > quint8(TImageLoaderProStatus::ilTerminated) ||
        kind > quint8(TVekImageKind::ikModern) || format < FIF_UNKNOWN || format > 255 ||
        (hasPageCount && pageCount < 1) || width < 0 || height < 0)
        return false;
    result.Status = TImageLoaderProStatus(status);
    result.ImageKind = TVekImageKind(kind);
    result.ImageFormat = FREE_IMAGE_FORMAT(format);
    result.PageIndex = pageIndex;
    result.PageCount = hasPageCount ? std::optional<int>(pageCount) : std::nullopt;
    pixels.Width = width;
    pixels.Height = height;
    return true;
}

QByteArray EncodePixelsHeader(const TPixelsHeader& pixels) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << qint32(pixels.Width) << qint32(pixels.Height);
    WriteOpacity(out, pixels.Opaque);
    return body;
}

bool ParsePixelsHeader(const QByteArray& body, TPixelsHeader& pixels) {
    QDataStream in(body);
    in.setVersion(kStreamVersion);
    qint32 width = 0, height = 0;
    in >> width >> height;
    pixels.Opaque = ReadOpacity(in);
    if (in.status() != QDataStream::Ok || !in.atEnd() || width < 0 || height < 0) return false;
    pixels.Width = width;
    pixels.Height = height;
    return true;
}

int PixelsToSharedMemory(const TBitmap32& bitmap) {
    const std::size_t bytes = std::size_t(bitmap.Width()) * bitmap.Height() * sizeof(TColor32);
    int fd = -1;
    if (const int own = SharedPixelsFd(bitmap.Bits()); own >= 0) {
        fd = ::fcntl(own, F_DUPFD_CLOEXEC, 0);
    } else {
        fd = ::memfd_create("pictrel-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (fd < 0) return -1;
        const std::size_t length = RoundToPages(bytes);
        void* copy = ::ftruncate(fd, off_t(length)) == 0
                         ? ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                         : MAP_FAILED;
        if (copy == MAP_FAILED) {
            ::close(fd);
            return -1;
        }
        std::memcpy(copy, bitmap.Bits(), bytes);
        ::munmap(copy, length);
    }
    // A block that came from the program (a reused buffer) is sealed already.
    if (fd >= 0 && (::fcntl(fd, F_GET_SEALS) & kRequiredSeals) != kRequiredSeals &&
        ::fcntl(fd, F_ADD_SEALS, kRequiredSeals) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool AdoptSharedPixels(int fd, const TPixelsHeader& pixels, TBitmap32& bitmap) {
    if (fd < 0) return false;
    const auto fail = [fd] {
        ::close(fd);
        return false;
    };
    if (pixels.Width <= 0 || pixels.Height <= 0 || std::uint64_t(pixels.Width) > kMaxImageSide ||
        std::uint64_t(pixels.Height) > kMaxImageSide ||
        std::uint64_t(pixels.Width) * std::uint64_t(pixels.Height) > kMaxImagePixels)
        return fail();
    // Unsealed memory could shrink under the mapping and fault the program later.
    const int seals = ::fcntl(fd, F_GET_SEALS);
    struct stat st {};
    if (seals < 0 || (seals & F_SEAL_SHRINK) == 0 || ::fstat(fd, &st) != 0) return fail();
    const std::size_t bytes = PixelBytes(pixels);
    if (st.st_size < 0 || std::size_t(st.st_size) < bytes) return fail();
    const std::size_t length = RoundToPages(bytes);
    // Mapped in one go: the picture is read whole right away (fitting, painting).
    void* bits = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (bits == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    // The descriptor stays with the mapping, so that the block can go back to a helper
    // as the buffer of a later picture (see SharedPixelsFd).
    if (g_bitmapMemoryInstalled.exchange(true) == false) SetBitmapMemory(&kAdoptedMemory);
    KeepShared(static_cast<TColor32*>(bits), length, fd);
    bitmap.AdoptMapping(static_cast<TColor32*>(bits), length, pixels.Width, pixels.Height,
                        pixels.Opaque);
    return true;
}

void UseSharedBitmapMemory() {
    g_bitmapMemoryInstalled = true;
    SetBitmapMemory(&kSharedMemory);
}

bool AdoptSpareBuffer(int fd, const TPixelsHeader& pixels, TBitmap32& bitmap) {
    // Its pages are there already (the program's last picture): only mapped, not populated.
    if (fd < 0) return false;
    const int seals = ::fcntl(fd, F_GET_SEALS);
    struct stat st {};
    const std::size_t length = RoundToPages(PixelBytes(pixels));
    if (pixels.Width <= 0 || pixels.Height <= 0 || seals < 0 || (seals & F_SEAL_SHRINK) == 0 ||
        ::fstat(fd, &st) != 0 || st.st_size < 0 || std::size_t(st.st_size) < length ||
        std::uint64_t(pixels.Width) > kMaxImageSide ||
        std::uint64_t(pixels.Height) > kMaxImageSide) {
        ::close(fd);
        return false;
    }
    void* bits = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (bits == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    KeepShared(static_cast<TColor32*>(bits), length, fd);
    bitmap.AdoptMapping(static_cast<TColor32*>(bits), length, pixels.Width, pixels.Height);
    return true;
}

int SharedPixelsFd(const TColor32* bits) {
    const std::lock_guard lock(g_blocksMutex);
    for (const TSharedBlock& block : g_blocks)
        if (block.Bits == bits) return block.Fd;
    return -1;
}
