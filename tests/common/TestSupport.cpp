#include "common/TestSupport.h"

#include <QFile>
#include <QThread>

#include <cmath>
#include <cstdint>

namespace pictrel::test {

TApplicationFactory ApplicationFactory = nullptr;

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

void PumpFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
}

} // namespace pictrel::test

namespace pictrel::test {

bool WriteWav(const QString& path, double seconds) {
    constexpr int rate = 8000;
    const auto samples = std::uint32_t(std::lround(seconds * rate));
    QByteArray data;
    const auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) data.append(char((v >> (8 * i)) & 0xFF));
    };
    const auto u16 = [&](std::uint16_t v) {
        data.append(char(v & 0xFF));
        data.append(char(v >> 8));
    };
    data.append("RIFF");
    u32(36 + samples * 2);
    data.append("WAVEfmt ");
    u32(16), u16(1), u16(1), u32(rate), u32(rate * 2), u16(2), u16(16);
    data.append("data");
    u32(samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i)
        u16(std::uint16_t(std::int16_t(8000 * std::sin(2 * M_PI * 440 * i / rate))));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace pictrel::test
