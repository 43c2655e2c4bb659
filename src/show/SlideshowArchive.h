#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>

// The ZIP container of slideshow files.

// Writes `path` as a ZIP archive of `files` in the given order, each under its
// bare file name: deflated at level 1 (stored when empty), version needed and
// made by 20, flags 0, no extra fields or comments, the file's last-write time
// as its MS-DOS date and time and its MS-DOS attributes as external attributes.
// The archive is written under a temporary name beside `path` and renamed over
// it when complete, so an existing file is replaced whole or not at all. Throws
// std::runtime_error when anything fails.
void WriteSlideshowArchive(const QString& path, const QStringList& files);

// What reading an archive found.
enum class TArchiveStatus : std::uint8_t {
    asRead,         // a readable archive (its known entries are in the content)
    asNotAnArchive, // no archive at all and no trace of one: it has no entries
    asDamaged,      // a damaged archive, or entries we refuse (see below)
    asUnreadable    // the file could not be read, or is no regular file
};

// Entries inflating to more than this are refused as damage, so a tiny file cannot
// make us inflate gigabytes; a slideshow's lists are a few kilobytes.
constexpr std::int64_t kMaxArchiveEntrySize = 64 * 1024 * 1024;
// And so is an archive whose known entries inflate to more than this in total
// (many entries may share the same compressed data).
constexpr std::int64_t kMaxArchiveTotalSize = 4 * kMaxArchiveEntrySize;

// Reads the entries of the archive at `path` whose last name component equals one
// of `names` (case ignored; the key is the spelling in `names`). A later
// entry of the same name replaces an earlier one, so an entry in a folder can
// override a top-level one; nothing is ever written to disk. Other entries are
// only checked for a sound local header, whatever their compression method (they
// are never inflated). Only regular files are read (links followed): a named pipe
// or a device is asUnreadable without waiting for it. The archive counts as damaged
// when its central directory cannot be read while the file holds local headers,
// when an entry's local header is not where the central directory says, or when a
// known entry is encrypted, fails to inflate, fails its CRC or exceeds the size
// limits.
[[nodiscard]] TArchiveStatus ReadSlideshowArchive(const QString& path, const QStringList& names,
                                                  std::map<QString, QByteArray>& content);
