#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <minizip/zip.h>

#include <string>
#include <utility>
#include <vector>

// Builds archives the way other tools might, and reads files byte by byte.
namespace archive_test {

using TEntries = std::vector<std::pair<std::string, QByteArray>>;

// A ZIP written with minizip's ordinary deflate.
inline bool MakeZip(const QString& path, const TEntries& entries) {
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (zip == nullptr) return false;
    bool ok = true;
    for (const auto& [name, data] : entries) {
        zip_fileinfo info{};
        ok = ok && zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         Z_DEFLATED, 6, 0) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, data.constData(), unsigned(data.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

inline QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline unsigned U16(const QByteArray& b, qsizetype at) {
    return unsigned(std::uint8_t(b[at])) | unsigned(std::uint8_t(b[at + 1])) << 8;
}

inline std::uint32_t U32(const QByteArray& b, qsizetype at) {
    return std::uint32_t(U16(b, at)) | std::uint32_t(U16(b, at + 2)) << 16;
}

} // namespace archive_test
