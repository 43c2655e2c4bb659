#include "show/SlideshowArchive.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

constexpr uLong kVersion20 = 20; // version needed to extract and version made by (MS-DOS 2.0)
constexpr std::uint32_t kDosArchive = 0x20;
constexpr std::uint32_t kDosReadOnly = 0x01;

[[noreturn]] void Fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

// Why writing `file` failed: its own error, or the system's last one (a short write
// sets no error on the device).
QString Reason(const QFileDevice& file, int error) {
    if (file.error() != QFileDevice::NoError) return file.errorString();
    return QString::fromLocal8Bit(std::strerror(error));
}

// minizip reads and writes through Qt's file devices, so that the archive can be
// written through QSaveFile and names need no conversion. The stream remembers
// where minizip last moved to (see LocalHeaderIsSound).
struct TDeviceStream {
    QFileDevice* Device;
    qint64 LastSeek = -1;
};

QFileDevice& DeviceOf(voidpf stream) {
    return *static_cast<TDeviceStream*>(stream)->Device;
}

voidpf ZCALLBACK OpenDevice(voidpf opaque, const void*, int) {
    return opaque;
}
uLong ZCALLBACK ReadDevice(voidpf, voidpf stream, void* buf, uLong size) {
    const qint64 n = DeviceOf(stream).read(static_cast<char*>(buf), qint64(size));
    return n < 0 ? 0 : uLong(n);
}
uLong ZCALLBACK WriteDevice(voidpf, voidpf stream, const void* buf, uLong size) {
    const qint64 n = DeviceOf(stream).write(static_cast<const char*>(buf), qint64(size));
    return n < 0 ? 0 : uLong(n);
}
ZPOS64_T ZCALLBACK TellDevice(voidpf, voidpf stream) {
    return ZPOS64_T(DeviceOf(stream).pos());
}
long ZCALLBACK SeekDevice(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    QFileDevice& device = DeviceOf(stream);
    qint64 position = qint64(offset);
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        position += device.pos();
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        position += device.size();
    if (!device.seek(position)) return -1;
    static_cast<TDeviceStream*>(stream)->LastSeek = position;
    return 0;
}
int ZCALLBACK CloseDevice(voidpf, voidpf) {
    return 0; // the device's owner closes it
}
int ZCALLBACK DeviceError(voidpf, voidpf stream) {
    return DeviceOf(stream).error() == QFileDevice::NoError ? 0 : 1;
}

zlib_filefunc64_def DeviceFunctions(TDeviceStream* stream) {
    zlib_filefunc64_def f{};
    f.zopen64_file = OpenDevice;
    f.zread_file = ReadDevice;
    f.zwrite_file = WriteDevice;
    f.ztell64_file = TellDevice;
    f.zseek64_file = SeekDevice;
    f.zclose_file = CloseDevice;
    f.zerror_file = DeviceError;
    f.opaque = stream;
    return f;
}

// MS-DOS date (high word) and time (low word) of a local time, held to the years
// the format can express.
uLong DosDateTime(const QDateTime& time) {
    QDateTime t = time.toLocalTime();
    if (!t.isValid() || t.date().year() < 1980) t = QDateTime(QDate(1980, 1, 1), QTime(0, 0));
    if (t.date().year() > 2107) t = QDateTime(QDate(2107, 12, 31), QTime(23, 59, 58));
    const QDate d = t.date();
    const QTime c = t.time();
    const uLong date = uLong((d.year() - 1980) << 9 | d.month() << 5 | d.day());
    const uLong clock = uLong(c.hour() << 11 | c.minute() << 5 | c.second() / 2);
    return date << 16 | clock;
}

QByteArray RawDeflate(const QByteArray& data) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        Fail(QStringLiteral("Can't compress the slideshow"));
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    if (result != Z_STREAM_END) Fail(QStringLiteral("Can't compress the slideshow"));
    return out;
}

// Closes a zip being written; without Finish() the archive is abandoned.
class TZipWriter {
public:
    TZipWriter(QSaveFile& file, const QByteArray& name)
        : m_stream{&file}, m_io(DeviceFunctions(&m_stream)) {
        m_zip = zipOpen2_64(name.constData(), APPEND_STATUS_CREATE, nullptr, &m_io);
    }
    ~TZipWriter() {
        if (m_zip != nullptr) zipClose(m_zip, nullptr);
    }
    TZipWriter(const TZipWriter&) = delete;
    TZipWriter& operator=(const TZipWriter&) = delete;
    [[nodiscard]] zipFile Handle() const { return m_zip; }
    [[nodiscard]] bool Finish() {
        return zipClose(std::exchange(m_zip, nullptr), nullptr) == ZIP_OK;
    }

private:
    TDeviceStream m_stream;
    zlib_filefunc64_def m_io;
    zipFile m_zip = nullptr;
};

bool AddEntry(zipFile zip, const QString& filePath) {
    QFile source(filePath);
    if (!source.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = source.readAll();
    if (source.error() != QFileDevice::NoError || data.size() > kMaxArchiveEntrySize) return false;

    const QFileInfo info(filePath);
    zip_fileinfo fields{};
    fields.dosDate = DosDateTime(info.lastModified());
    fields.internal_fa = 0;
    fields.external_fa = kDosArchive | (info.isWritable() ? 0 : kDosReadOnly);

    const bool empty = data.isEmpty();
    // Deflated here and added raw: minizip would otherwise mark level 1 in the flags.
    const QByteArray packed = empty ? QByteArray() : RawDeflate(data);
    const QByteArray name = info.fileName().toUtf8();
    if (zipOpenNewFileInZip4_64(zip, name.constData(), &fields, nullptr, 0, nullptr, 0, nullptr,
                                empty ? 0 : Z_DEFLATED, 0, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
                                nullptr, 0, kVersion20, 0, 0) != ZIP_OK)
        return false;
    const bool written =
        empty || zipWriteInFileInZip(zip, packed.constData(), unsigned(packed.size())) == ZIP_OK;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size()));
    const bool closed = zipCloseFileInZipRaw64(zip, ZPOS64_T(data.size()), crc) == ZIP_OK;
    return written && closed;
}

// Whether the file holds a ZIP local header signature anywhere.
bool HasLocalHeader(QFile& file) {
    static const QByteArray signature("PK\x03\x04", 4);
    if (!file.seek(0)) return false;
    QByteArray carry;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 20);
        if (chunk.isEmpty()) break;
        if ((carry + chunk).contains(signature)) return true;
        carry = chunk.right(3);
    }
    return false;
}

QString LastComponent(const QByteArray& storedName) {
    const QString name = QString::fromUtf8(storedName);
    const qsizetype cut = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    return name.mid(cut + 1);
}

// Owns an open archive being read.
class TZipReader {
public:
    TZipReader(QFile& file, const QByteArray& name)
        : m_stream{&file}, m_io(DeviceFunctions(&m_stream)) {
        m_zip = unzOpen2_64(name.constData(), &m_io);
    }
    ~TZipReader() {
        if (m_zip != nullptr) unzClose(m_zip);
    }
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;
    [[nodiscard]] unzFile Handle() const { return m_zip; }
    [[nodiscard]] TDeviceStream& Stream() { return m_stream; }

private:
    TDeviceStream m_stream;
    zlib_filefunc64_def m_io;
    unzFile m_zip = nullptr;
};

// The compression methods minizip opens at all (stored, deflated, bzip2).
bool MinizipKnowsMethod(uLong method) {
    return method == 0 || method == Z_DEFLATED || method == 12;
}

// Whether the local header of the current entry, which is not one of ours, is where
// the central directory says. Its data is never read, so any method will do.
bool LocalHeaderIsSound(TZipReader& zip, QFile& file, const unz_file_info64& info) {
    zip.Stream().LastSeek = -1;
    if (unzOpenCurrentFile2(zip.Handle(), nullptr, nullptr, 1) == UNZ_OK) {
        unzCloseCurrentFile(zip.Handle());
        return true;
    }
    if (MinizipKnowsMethod(info.compression_method)) return false;
    // minizip refuses other methods (LZMA, ...) even raw, but only after going to the
    // local header to compare it: that is where it last moved to.
    const qint64 at = zip.Stream().LastSeek;
    static const QByteArray signature("PK\x03\x04", 4);
    return at >= 0 && file.seek(at) && file.read(signature.size()) == signature;
}

// Opens `path` for reading only when it is a regular file (links followed): a named
// pipe would block the open until some writer comes, and a device may never end.
bool OpenRegularFile(QFile& file, const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// Inflates the current entry; false when it is damaged or over the limit.
bool ReadEntry(unzFile zip, const unz_file_info64& info, std::int64_t& total, QByteArray& data) {
    if ((info.flag & 1) != 0 || info.uncompressed_size > ZPOS64_T(kMaxArchiveEntrySize))
        return false;
    if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
    data.clear();
    std::vector<char> buffer(64 * 1024);
    bool ok = true;
    for (;;) {
        const int n = unzReadCurrentFile(zip, buffer.data(), unsigned(buffer.size()));
        if (n < 0) ok = false;
        if (n <= 0) break;
        total += n;
        if (data.size() + n > kMaxArchiveEntrySize || total > kMaxArchiveTotalSize) {
            ok = false;
            break;
        }
        data.append(buffer.data(), n);
    }
    // Checks the CRC once everything was read.
    const int closed = unzCloseCurrentFile(zip);
    return ok && closed == UNZ_OK;
}

} // namespace

void WriteSlideshowArchive(const QString& path, const QStringList& files) {
    QSaveFile out(path);
    const auto fail = [&](const char* what) {
        const int error = errno;
        Fail(QStringLiteral("Can't %1 %2: %3").arg(QLatin1String(what), path, Reason(out, error)));
    };
    // Unbuffered: QSaveFile::commit does not notice a failed flush of buffered data
    // (a full disk) and would rename a truncated archive into place.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) fail("create");
    {
        TZipWriter zip(out, QFile::encodeName(path));
        if (zip.Handle() == nullptr) fail("create");
        for (const QString& file : files)
            if (!AddEntry(zip.Handle(), file)) fail("write");
        if (!zip.Finish()) fail("write");
    }
    if (!out.commit()) fail("write");
}

TArchiveStatus ReadSlideshowArchive(const QString& path, const QStringList& names,
                                    std::map<QString, QByteArray>& content) {
    content.clear();
    QFile file;
    if (!OpenRegularFile(file, path)) return TArchiveStatus::asUnreadable;

    TZipReader zip(file, QFile::encodeName(path));
    if (zip.Handle() == nullptr) {
        // No readable central directory. Local headers in the file mean an archive
        // that lost it (truncated or garbled); none means no archive at all.
        if (file.error() != QFileDevice::NoError) return TArchiveStatus::asUnreadable;
        const bool damaged = HasLocalHeader(file);
        if (file.error() != QFileDevice::NoError) return TArchiveStatus::asUnreadable;
        return damaged ? TArchiveStatus::asDamaged : TArchiveStatus::asNotAnArchive;
    }

    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip.Handle(), &global) != UNZ_OK) return TArchiveStatus::asDamaged;
    if (global.number_entry == 0) return TArchiveStatus::asRead;

    std::map<QString, QByteArray> found;
    std::int64_t total = 0;
    int err = unzGoToFirstFile(zip.Handle());
    while (err == UNZ_OK) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip.Handle(), &info, nullptr, 0, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            return TArchiveStatus::asDamaged;
        QByteArray stored(qsizetype(info.size_filename), '\0');
        if (unzGetCurrentFileInfo64(zip.Handle(), &info, stored.data(), uLong(stored.size()),
                                    nullptr, 0, nullptr, 0) != UNZ_OK)
            return TArchiveStatus::asDamaged;

        const QString last = LastComponent(stored);
        QString known;
        for (const QString& name : names)
            if (last.compare(name, Qt::CaseInsensitive) == 0) known = name;

        if (known.isEmpty()) {
            // Not ours: only the local header is checked, nothing is inflated.
            if (!LocalHeaderIsSound(zip, file, info)) return TArchiveStatus::asDamaged;
        } else {
            QByteArray data;
            if (!ReadEntry(zip.Handle(), info, total, data)) return TArchiveStatus::asDamaged;
            found[known] = std::move(data);
        }
        err = unzGoToNextFile(zip.Handle());
    }
    if (err != UNZ_END_OF_LIST_OF_FILE) return TArchiveStatus::asDamaged;
    content = std::move(found);
    return TArchiveStatus::asRead;
}
