#include "show/VekSettingsFile.h"

#include "app/FileHelpers.h"
#include "app/FolderListing.h"
#include "platform/AtomicFile.h"
#include "show/SlideshowArchive.h"
#include "show/TransformerByName.h"
#include "show/VekBlendTransform.h"
#include "show/VekRandomTransform.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>

namespace {

const QString kImageListName = QStringLiteral("ImageList");
const QString kMusicListName = QStringLiteral("MusicList");
const QString kSettingsName = QStringLiteral("Settings");

const QString kDelayKey = QStringLiteral("Delay");
const QString kTransformerKey = QStringLiteral("Transformer");
const QString kShuffleKey = QStringLiteral("Shuffle");
const QString kRepeatAllKey = QStringLiteral("Repeat all");

QByteArray ListText(const QStringList& lines) {
    QByteArray text;
    for (const QString& line : lines) text += line.toUtf8() + "\r\n";
    return text;
}

// Lines end at CR, LF or CR LF; a final line break adds no empty line.
QStringList SplitLines(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    QStringList lines;
    qsizetype start = 0, i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') {
            ++i;
            continue;
        }
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = ++i;
    }
    if (start < text.size()) lines.append(text.mid(start));
    return lines;
}

// The value of the first line whose text before its first "=" is `key` (case ignored).
std::optional<QString> Value(const QStringList& lines, const QString& key) {
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return std::nullopt;
}

// "0" is false, any other integer true; the words true and false in any case.
std::optional<bool> ToBool(const QString& text) {
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber) return number != 0;
    if (text.compare(u"true", Qt::CaseInsensitive) == 0) return true;
    if (text.compare(u"false", Qt::CaseInsensitive) == 0) return false;
    return std::nullopt;
}

void WriteScratchFile(const QString& path, const QByteArray& data) {
    QString why;
    if (!WriteFileAtomically(path, data, &why))
        throw std::runtime_error(QStringLiteral("Can't write %1: %2").arg(path, why).toStdString());
}

// Removes a scratch folder however the work in it ends.
class TScratchFolder {
public:
    TScratchFolder() : Path(NewScratchFolder()) {}
    ~TScratchFolder() { DeleteTree(Path); }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    const QString Path;
};

void ExpandList(const QStringList& list, QStringList& target, bool expandFolders,
                const QString& extensions) {
    target.clear();
    for (const QString& entry : list) {
        if (!FolderExists(entry)) {
            if (ExtensionMatches(entry, extensions)) target.append(entry);
        } else if (expandFolders && !extensions.isEmpty()) {
            // (An empty filter would make the listing keep every file.)
            // Directory order is no order at all on most Linux file systems.
            QStringList files = ListFiles(entry, true, extensions);
            SortNatural(files);
            target.append(files);
        }
    }
}

} // namespace

TVekSettingsFile::TVekSettingsFile() : Transformer(std::make_unique<TVekBlendTransform>()) {}

TVekSettingsFile::~TVekSettingsFile() = default;

bool TVekSettingsFile::LoadFromFile(const QString& path) {
    if (!FileExists(path)) return false;
    std::map<QString, QByteArray> content;
    const TArchiveStatus status =
        ReadSlideshowArchive(path, {kImageListName, kMusicListName, kSettingsName}, content);
    if (status != TArchiveStatus::asRead && status != TArchiveStatus::asNotAnArchive) return false;

    const auto entry = [&](const QString& name) -> const QByteArray* {
        const auto it = content.find(name);
        return it == content.end() ? nullptr : &it->second;
    };
    const QByteArray* images = entry(kImageListName);
    const QByteArray* music = entry(kMusicListName);
    const QByteArray* settings = entry(kSettingsName);
    ImageList = images != nullptr ? SplitLines(*images) : QStringList();
    MusicList = music != nullptr ? SplitLines(*music) : QStringList();

    if (settings == nullptr) {
        Transformer = std::make_unique<TVekRandomTransform>();
        Delay = 5000;
        return true;
    }
    const QStringList lines = SplitLines(*settings);
    if (const auto delay = Value(lines, kDelayKey)) {
        bool ok = false;
        const qlonglong value = delay->toLongLong(&ok);
        if (ok) {
            // A negative or absurd delay would stall the show with no sign why; take the
            // nearest one the delay settings can hold and tell whoever started us.
            Delay = int(std::clamp<qlonglong>(value, 0, kMaxSlideshowDelayMs));
            if (Delay != value)
                std::fprintf(stderr, "pictrel: %s: delay %lld ms out of range, using %d ms\n",
                             QFile::encodeName(path).constData(), value, Delay);
        }
    }
    Transformer = TransformerByName(Value(lines, kTransformerKey).value_or(QString()));
    if (!Transformer) Transformer = std::make_unique<TVekRandomTransform>();
    if (const auto text = Value(lines, kShuffleKey)) Shuffle = ToBool(*text).value_or(Shuffle);
    if (const auto text = Value(lines, kRepeatAllKey))
        RepeatAll = ToBool(*text).value_or(RepeatAll);
    return true;
}

void TVekSettingsFile::SaveToFile(const QString& path) const {
    if (path.isEmpty()) return;
    const TScratchFolder scratch;
    const QString images = scratch.Path + kImageListName;
    const QString music = scratch.Path + kMusicListName;
    const QString settings = scratch.Path + kSettingsName;
    WriteScratchFile(images, ListText(ImageList));
    WriteScratchFile(music, ListText(MusicList));
    const auto flag = [](bool value) { return value ? QStringLiteral("-1") : QStringLiteral("0"); };
    WriteScratchFile(
        settings,
        ListText({kDelayKey + u'=' + QString::number(Delay),
                  kTransformerKey + u'=' + (Transformer ? Transformer->Name : QString()),
                  kShuffleKey + u'=' + flag(Shuffle), kRepeatAllKey + u'=' + flag(RepeatAll)}));
    WriteSlideshowArchive(path, {images, music, settings});
}

QStringList ExpandFileList(const QStringList& list, bool expandFolders, const QString& extensions) {
    QStringList result;
    ExpandList(list, result, expandFolders, extensions);
    return result;
}

void TVekSettingsFile::GetImageFiles(QStringList& target, bool expandFolders,
                                     const QString& imageExtensions) const {
    ExpandList(ImageList, target, expandFolders, imageExtensions);
}

void TVekSettingsFile::GetMusicFiles(QStringList& target, bool expandFolders) const {
    ExpandList(MusicList, target, expandFolders, QString::fromLatin1(kMusicExtensions));
}
