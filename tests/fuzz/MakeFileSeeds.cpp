// Writes small valid files for the file readers' fuzzer, each with the program's
// own writer where it has one. The first byte of each seed picks the reader the
// fuzz target hands it to (see FuzzFiles.cpp).
#include "app/RotateAngleList.h"
#include "platform/RegistryHive.h"
#include "show/TransformerByName.h"
#include "show/VekSettingsFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <exception>

namespace {

QString g_folder;

bool WriteSeed(const char* name, char reader, const QByteArray& bytes) {
    QFile f(g_folder + '/' + QString::fromLatin1(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(QByteArray(1, reader) + bytes) == bytes.size() + 1;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool RegistrySeeds() {
    TRegKeyNode tree;
    tree.SetValue(QString(), QStringLiteral("root default"));
    TRegKeyNode& viewer = tree.ChildOrNew(QStringLiteral("Software"))
                              .ChildOrNew(QStringLiteral("Pictrel"))
                              .ChildOrNew(QStringLiteral("Viewer"));
    viewer.SetValue(QStringLiteral("Last folder"), QStringLiteral("/home/u/Pictures \"q\"\t\\"));
    viewer.SetValue(QStringLiteral("Zoom"), std::uint32_t(150));
    viewer.SetValue(QStringLiteral("Window"), QByteArray("\x00\x10\x7f\xff", 4));
    tree.ChildOrNew(QStringLiteral("Empty key"));
    bool ok =
        WriteSeed("hive-written.reg", 0, TRegistryHive::Serialize(tree, TRegRoot::rrCurrentUser));
    // What a hand edit may hold: comments, blank lines, continued binary data and
    // DWORDs as bytes. The reader byte 4 picks HKEY_CLASSES_ROOT.
    ok =
        WriteSeed("hive-hand-edited.reg", 4,
                  "REGEDIT4\r\n; a comment\r\n\r\n[HKEY_CLASSES_ROOT\\.jpg]\r\n"
                  "@=\"Pictrel.jpg\"\r\n\"Size\" = hex(4):10,00,00,00\r\n"
                  "\"Data\"=hex:01,02,03,\\\r\n  04,05\r\n\"Text\"=\"a\\x41\\n\"\r\n"
                  "[HKEY_CLASSES_ROOT\\Pictrel.jpg\\shell\\open]\r\n\"Flag\"=dword:FFFFFFFF\r\n") &&
        ok;
    // Keys at the deepest level the reader accepts and one beyond it.
    QByteArray deep = "REGEDIT4\n";
    for (const int depth : {TRegistryHive::kMaxKeyDepth, TRegistryHive::kMaxKeyDepth + 1})
        deep += "[HKEY_CURRENT_USER" + QByteArray("\\k").repeated(depth) + "]\n\"v\"=dword:1\n";
    ok = WriteSeed("hive-deep.reg", 0, deep) && ok;
    return ok;
}

bool SlideshowSeeds(const QTemporaryDir& scratch) {
    const QString path = scratch.filePath(QStringLiteral("seed.VekSS"));
    TVekSettingsFile s;
    s.ImageList = {QStringLiteral("/home/u/Pictures/a.jpg"), QStringLiteral("/home/u/Pictures/")};
    s.MusicList = {QStringLiteral("/home/u/Music/b.mp3")};
    s.Transformer = TransformerByName(QStringLiteral("Wind"));
    s.Delay = 3000;
    s.Shuffle = true;
    s.SaveToFile(path);
    bool ok = WriteSeed("slideshow.VekSS", 1, ReadAll(path));
    TVekSettingsFile empty;
    empty.SaveToFile(path); // empty entries are stored, not deflated
    ok = WriteSeed("slideshow-empty.VekSS", 1, ReadAll(path)) && ok;
    return ok;
}

bool RotateSeed(const QTemporaryDir& scratch) {
    const QString path = scratch.filePath(QStringLiteral("RotateAngles"));
    TRotateAngleList list;
    list.SetAngle(QStringLiteral("/home/u/a.jpg"), 90);
    list.SetAngle(QStringLiteral("/home/u/b=c.jpg"), -180);
    return list.SaveToFile(path) && WriteSeed("RotateAngles", 2, ReadAll(path) + "/x.jpg=soon\r\n");
}

bool MimeSeed() {
    return WriteSeed("mimeapps.list", 3,
                     "[Added Associations]\nimage/png=gimp.desktop;\n\n"
                     "[Default Applications]\nimage/jpeg=pictrel.desktop;eog.desktop;\n"
                     "image/png = eog.desktop\n\n[Removed Associations]\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    QCoreApplication app(argc, argv);
    g_folder = QString::fromLocal8Bit(argv[1]);
    const QTemporaryDir scratch;
    try {
        const bool ok =
            RegistrySeeds() && SlideshowSeeds(scratch) && RotateSeed(scratch) && MimeSeed();
        if (!ok) std::fprintf(stderr, "make_file_seeds: cannot write the seeds\n");
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_file_seeds: %s\n", e.what());
        return 1;
    }
}
