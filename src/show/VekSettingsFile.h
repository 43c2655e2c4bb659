#pragma once

#include "show/CustomVekTransformer.h"

#include <QString>
#include <QStringList>

#include <memory>

// The slideshow description: the pictures and the music (files and folders), the
// delay between pictures, the transition effect and two music options; saved as
// a slideshow file (".VekSS"), a ZIP archive of the text entries "ImageList",
// "MusicList" and "Settings". Text is UTF-8 with CR LF after every line.
class TVekSettingsFile {
public:
    TVekSettingsFile();
    ~TVekSettingsFile();
    TVekSettingsFile(const TVekSettingsFile&) = delete;
    TVekSettingsFile& operator=(const TVekSettingsFile&) = delete;

    // Reads a slideshow file. False, with nothing changed, when the file does not
    // exist, is no regular file (a named pipe, a device) or cannot be read, or is a
    // damaged archive; entries other than the three are skipped unread. A file that is no archive
    // at all has no entries: it gives empty lists, Random and 5000 ms (true).
    // Missing entries fall back to empty lists, and a missing "Settings" entry to
    // Random and 5000 ms (the music options stay); unreadable values keep theirs. A delay
    // outside 0 ... kMaxSlideshowDelayMs is clamped to it, with a note on standard error.
    bool LoadFromFile(const QString& path);

    // Writes the description to `path` (nothing for an empty path), replacing an
    // existing file only once the new one is complete. Throws std::runtime_error
    // when writing fails; the scratch folder is removed in every case.
    void SaveToFile(const QString& path) const;

    // Clears `target` and fills it with the picture files ImageList stands for:
    // files whose extension occurs in `imageExtensions` (the loader's comma-separated
    // list of readable extensions; existing or not), and with expandFolders the
    // matching files directly inside folder entries, in a file manager's natural
    // order (folders are skipped without).
    void GetImageFiles(QStringList& target, bool expandFolders,
                       const QString& imageExtensions) const;
    // The same for MusicList with the music extensions "mp3, wma, wav".
    void GetMusicFiles(QStringList& target, bool expandFolders) const;

    QStringList ImageList; // absolute paths of pictures and folders, as added
    QStringList MusicList; // absolute paths of music files and folders, as added
    std::unique_ptr<TCustomVekTransformer> Transformer; // the effect between pictures (owned)
    int Delay = 5000;                                   // milliseconds a picture stays on screen
    bool Shuffle = false;                               // music in random order
    bool RepeatAll = false; // the music starts over after its last track
};

// The longest delay the settings can hold (a day, as the delay spin boxes allow).
inline constexpr int kMaxSlideshowDelayMs = 24 * 60 * 60 * 1000;

// The extension set music entries are matched against.
inline constexpr char kMusicExtensions[] = "mp3, wma, wav";

// The files `list` stands for (see TVekSettingsFile::GetImageFiles); safe on any thread.
[[nodiscard]] QStringList ExpandFileList(const QStringList& list, bool expandFolders,
                                         const QString& extensions);
