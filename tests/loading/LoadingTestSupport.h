#pragma once

#include "gfx/Bitmap32.h"
#include "loading/FreeImagePtr.h"
#include "loading/VekImageLoaderPro.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace pictrel::test {

// A 24-bit picture with a smooth colour pattern that varies in both directions.
TFreeImagePtr MakePattern(int width, int height);
// A 32-bit picture whose alpha runs from 0 (left) to 255 (right).
TFreeImagePtr MakeAlphaPattern(int width, int height);

// Saves `dib` and returns the path; fails the current test when FreeImage cannot.
QString Save(FIBITMAP* dib, FREE_IMAGE_FORMAT fif, const QString& path, int flags = 0);
// A multi-page TIFF whose page i is (width + i) pixels wide.
QString SaveMultiPageTiff(const QString& path, int pages, int width, int height);

// FreeImage's own load of `path` converted to 32 bits, in top-down rows.
TBitmap32 FreeImageReference(const QString& path, int flags = 0);

QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& data);

// Records a loader's events in order: "start <name>", "bitmap <name>", "succes <name>",
// "error <name>" (the name is the loader's file name without folder).
class TLoaderRecorder {
public:
    explicit TLoaderRecorder(TVekImageLoaderPro& loader);
    // The loader may outlive the recorder (and still tick its progress timer), so
    // the handlers that point here are taken back.
    ~TLoaderRecorder();
    TLoaderRecorder(const TLoaderRecorder&) = delete;
    TLoaderRecorder& operator=(const TLoaderRecorder&) = delete;
    QStringList Events;
    QList<int> Percents;
    int Finished() const; // bitmap/succes/error events so far
    // Opens and waits until the load has been delivered or has ended without events.
    bool OpenAndWait(const QString& file, int page = 0, int timeoutMs = 20000);

private:
    TVekImageLoaderPro& m_loader;
    int m_done = 0;
};

// The CRC-32 of PNG chunks and ZIP entries.
std::uint32_t Crc32(const char* data, std::size_t n);

// Equal size and pixels.
bool SamePixels(const TBitmap32& a, const TBitmap32& b);

} // namespace pictrel::test
