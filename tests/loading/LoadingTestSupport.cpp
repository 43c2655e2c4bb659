#include "LoadingTestSupport.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace pictrel::test {

TFreeImagePtr MakePattern(int width, int height) {
    TFreeImagePtr dib(FreeImage_Allocate(width, height, 24));
    for (int y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < width; ++x, p += 3) {
            p[FI_RGBA_RED] = BYTE((x * 255) / std::max(1, width - 1));
            p[FI_RGBA_GREEN] = BYTE((y * 255) / std::max(1, height - 1));
            p[FI_RGBA_BLUE] = BYTE((x * 7 + y * 13) & 0xFF);
        }
    }
    return dib;
}

TFreeImagePtr MakeAlphaPattern(int width, int height) {
    TFreeImagePtr dib(FreeImage_Allocate(width, height, 32));
    for (int y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < width; ++x, p += 4) {
            p[FI_RGBA_RED] = 200;
            p[FI_RGBA_GREEN] = BYTE(y * 3);
            p[FI_RGBA_BLUE] = 40;
            p[FI_RGBA_ALPHA] = BYTE((x * 255) / std::max(1, width - 1));
        }
    }
    return dib;
}

QString Save(FIBITMAP* dib, FREE_IMAGE_FORMAT fif, const QString& path, int flags) {
    EXPECT_TRUE(FreeImage_Save(fif, dib, QFile::encodeName(path).constData(), flags))
        << "FreeImage could not write " << path.toStdString();
    return path;
}

QString SaveMultiPageTiff(const QString& path, int pages, int width, int height) {
    FIMULTIBITMAP* multi =
        FreeImage_OpenMultiBitmap(FIF_TIFF, QFile::encodeName(path).constData(), TRUE, FALSE);
    EXPECT_NE(multi, nullptr);
    if (multi == nullptr) return path;
    for (int i = 0; i < pages; ++i) {
        const TFreeImagePtr page = MakePattern(width + i, height);
        FreeImage_AppendPage(multi, page.get());
    }
    FreeImage_CloseMultiBitmap(multi, 0);
    return path;
}

TBitmap32 FreeImageReference(const QString& path, int flags) {
    const QByteArray name = QFile::encodeName(path);
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(name.constData(), 0);
    const TFreeImagePtr dib(FreeImage_Load(fif, name.constData(), flags));
    TBitmap32 result;
    if (!dib) return result;
    const TFreeImagePtr c(FreeImage_ConvertTo32Bits(dib.get()));
    const int w = int(FreeImage_GetWidth(c.get()));
    const int h = int(FreeImage_GetHeight(c.get()));
    result.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        std::memcpy(result.ScanLine(h - 1 - y), FreeImage_GetScanLine(c.get(), y),
                    std::size_t(w) * 4);
    return result;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(data), data.size());
}

TLoaderRecorder::TLoaderRecorder(TVekImageLoaderPro& loader) : m_loader(loader) {
    const auto name = [](const QString& file) { return QFileInfo(file).fileName(); };
    loader.OnStart = [this, name](TVekImageLoaderPro&, const QString& file) {
        Events.append("start " + name(file));
    };
    loader.OnBitmapChange = [this, name](TVekImageLoaderPro& s, TBitmap32&) {
        Events.append("bitmap " + name(s.FileName()));
        ++m_done;
    };
    loader.OnSucces = [this, name](TVekImageLoaderPro& s) {
        Events.append("succes " + name(s.FileName()));
        ++m_done;
    };
    loader.OnError = [this, name](TVekImageLoaderPro& s) {
        Events.append("error " + name(s.FileName()));
        ++m_done;
    };
    loader.OnWork = [this](TVekImageLoaderPro&, int percent) { Percents.append(percent); };
}

TLoaderRecorder::~TLoaderRecorder() {
    m_loader.OnStart = nullptr;
    m_loader.OnBitmapChange = nullptr;
    m_loader.OnSucces = nullptr;
    m_loader.OnError = nullptr;
    m_loader.OnWork = nullptr;
}

int TLoaderRecorder::Finished() const {
    return m_done;
}

bool TLoaderRecorder::OpenAndWait(const QString& file, int page, int timeoutMs) {
    const int before = m_done;
    m_loader.Open(file, true, page);
    return PumpUntil(
        [&] { return m_done > before || m_loader.Status() == TImageLoaderProStatus::ilTerminated; },
        timeoutMs);
}

std::uint32_t Crc32(const char* data, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= std::uint8_t(data[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool SamePixels(const TBitmap32& a, const TBitmap32& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    return a.Empty() ||
           std::memcmp(a.Bits(), b.Bits(), std::size_t(a.Width()) * a.Height() * 4) == 0;
}

} // namespace pictrel::test
