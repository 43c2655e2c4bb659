// libFuzzer target over the program's own file readers; the first input byte picks
// the reader (its value modulo kReaderCount), the rest is the file:
//   0  registry hive text (TRegistryHive::Parse; the root comes from the same byte)
//   1  slideshow file (TVekSettingsFile::LoadFromFile)
//   2  rotation angle list (TRotateAngleList::LoadFromFile)
//   3  mimeapps.list (TMimeAppsList::Load)
// Besides not crashing, each reader's promises are checked, and abort() reports a
// broken one: what a reader accepted is written back by the matching writer and
// must read again the same.
//
// Built by the PICTREL_FUZZ CMake option (tests/fuzz/CMakeLists.txt), run by scripts/fuzz.
#include "app/MimeAppsList.h"
#include "app/RotateAngleList.h"
#include "platform/RegistryHive.h"
#include "show/TransformerByName.h"
#include "show/VekSettingsFile.h"

#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr int kReaderCount = 4;

std::unique_ptr<QTemporaryDir> g_dir;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz_files: %s\n", what);
    std::abort();
}

QString WriteInput(const char* name, const QByteArray& bytes) {
    const QString path = g_dir->filePath(QString::fromLatin1(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    if (f.write(bytes) != bytes.size()) std::abort();
    return path;
}

void FuzzRegistryHive(TRegRoot root, const QByteArray& text) {
    TRegKeyNode tree;
    TRegistryHive::Parse(text, root, tree);
    // Whatever was read is written as a hive that reads back whole and unchanged.
    const QByteArray first = TRegistryHive::Serialize(tree, root);
    TRegKeyNode again;
    Check(TRegistryHive::Parse(first, root, again) == 0, "a written hive has damaged lines");
    Check(TRegistryHive::Serialize(again, root) == first, "a hive changes when read back");
}

void FuzzSlideshowFile(const QByteArray& bytes) {
    const QString path = WriteInput("input.VekSS", bytes);
    TVekSettingsFile s;
    s.ImageList = {QStringLiteral("/before/image.jpg")};
    s.MusicList = {QStringLiteral("/before/music.mp3")};
    s.Transformer = TransformerByName(QStringLiteral("Slide"));
    s.Delay = 777;
    s.Shuffle = true;
    s.RepeatAll = true;
    if (!s.LoadFromFile(path)) {
        Check(s.ImageList == QStringList{QStringLiteral("/before/image.jpg")} &&
                  s.MusicList == QStringList{QStringLiteral("/before/music.mp3")} &&
                  s.Transformer && s.Transformer->Name == QStringLiteral("Slide") &&
                  s.Delay == 777 && s.Shuffle && s.RepeatAll,
              "a failed slideshow load changed the description");
        return;
    }
    Check(s.Transformer != nullptr, "a slideshow loaded without an effect");
    const QString copy = g_dir->filePath(QStringLiteral("copy.VekSS"));
    s.SaveToFile(copy);
    TVekSettingsFile again;
    Check(again.LoadFromFile(copy), "a written slideshow does not load");
    Check(again.ImageList == s.ImageList && again.MusicList == s.MusicList &&
              again.Transformer->Name == s.Transformer->Name && again.Delay == s.Delay &&
              again.Shuffle == s.Shuffle && again.RepeatAll == s.RepeatAll,
          "a slideshow changes when written and read back");
}

void FuzzRotateAngleList(const QByteArray& bytes) {
    const QString path = WriteInput("RotateAngles", bytes);
    TRotateAngleList list;
    Check(list.LoadFromFile(path), "an existing angle list does not load");
    for (const TRotateAngleList::TEntry& entry : list.Entries()) {
        Check(list.Contains(entry.Name), "a loaded angle entry cannot be found");
        (void)list.Angle(entry.Name);
    }
    const QString copy = g_dir->filePath(QStringLiteral("RotateAnglesCopy"));
    Check(list.SaveToFile(copy), "an angle list cannot be written");
    TRotateAngleList again;
    Check(again.LoadFromFile(copy), "a written angle list does not load");
    Check(again.Count() == list.Count(), "an angle list changes its length when read back");
    for (int i = 0; i < list.Count(); ++i) {
        const auto& a = list.Entries()[std::size_t(i)];
        const auto& b = again.Entries()[std::size_t(i)];
        Check(a.Name == b.Name && a.Value == b.Value, "an angle entry changes when read back");
    }
}

void FuzzMimeAppsList(const QByteArray& bytes) {
    const QString path = WriteInput("mimeapps.list", bytes);
    TMimeAppsList apps;
    Check(apps.Load(path), "an existing mimeapps.list does not load");
    (void)TMimeAppsList::FirstId(apps.Default(QStringLiteral("image/jpeg")));
    const QString mime = QStringLiteral("image/x-fuzz");
    const QString value = QStringLiteral("pictrel.desktop;other.desktop;");
    apps.SetDefault(mime, value);
    Check(apps.Default(mime) == value, "a default just set is not read");
    Check(apps.Save(), "mimeapps.list cannot be written");
    TMimeAppsList again;
    Check(again.Load(path), "a written mimeapps.list does not load");
    Check(again.Default(mime) == value, "a default changes when written and read back");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pictrel::fuzz::StartApplication();
    g_dir = std::make_unique<QTemporaryDir>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    switch (data[0] % kReaderCount) {
    case 0: {
        const TRegRoot roots[] = {TRegRoot::rrCurrentUser, TRegRoot::rrClassesRoot,
                                  TRegRoot::rrLocalMachine};
        FuzzRegistryHive(roots[(data[0] / kReaderCount) % 3], bytes);
        break;
    }
    case 1:
        FuzzSlideshowFile(bytes);
        break;
    case 2:
        FuzzRotateAngleList(bytes);
        break;
    default:
        FuzzMimeAppsList(bytes);
        break;
    }
    return 0;
}
