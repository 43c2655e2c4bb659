#include "loading/DecoderService.h"

#include "loading/ColourManagement.h"
#include "loading/DecoderProtocol.h"
#include "loading/DecoderSandbox.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageLimits.h"

#include <libheif/heif.h>

#include <QFile>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

namespace {

// The running request's number, the number of the last one told to stop, and whether
// the running one is stopped. A stop request may come before its request is read (it
// is then remembered) or after it was answered (it then stops nothing).
std::atomic<std::int32_t> g_request{0};
std::atomic<std::int32_t> g_stopRequest{0};
std::atomic<bool> g_stop{false};
static_assert(std::atomic<std::int32_t>::is_always_lock_free);
std::uint64_t g_memoryLimit = 0;

enum class TFault : std::uint8_t { None, Crash, Hang, Memory };
TFault g_fault = TFault::None;

void OnStopRequest(int, siginfo_t* info, void*) {
    const std::int32_t request = info->si_value.sival_int;
    g_stopRequest.store(request);
    if (request == g_request.load()) g_stop.store(true);
}

TFault FaultFromEnvironment() {
    const char* value = std::getenv("PICTREL_DECODER_FAULT");
    if (value == nullptr) return TFault::None;
    if (std::strcmp(value, "crash") == 0) return TFault::Crash;
    if (std::strcmp(value, "hang") == 0) return TFault::Hang;
    if (std::strcmp(value, "memory") == 0) return TFault::Memory;
    return TFault::None;
}

// The test faults, on files that ask for them by name. What a hostile or broken file
// could do to a decoder: fault, never return, or ask for absurd memory.
void ActOutFault(const QString& fileName, QString& reason) {
    if (g_fault == TFault::None || !fileName.contains(QLatin1String("pictrel-fault"))) return;
    switch (g_fault) {
    case TFault::Crash:
        ::raise(SIGSEGV);
        break;
    case TFault::Hang:
        // Deaf to stop requests, as a decoder caught in a loop.
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    case TFault::Memory: {
        const std::uint64_t bytes = g_memoryLimit + (std::uint64_t(512) << 20);
        void* block = std::malloc(std::size_t(bytes));
        if (block == nullptr) {
            reason = QStringLiteral("not enough memory");
            throw std::bad_alloc();
        }
        std::free(block);
        reason = QStringLiteral("the memory limit did not hold");
        throw std::runtime_error("memory fault");
    }
    case TFault::None:
        break;
    }
}

void Answer(int socket, TDecodeOrder& order, int fileFd, TBitmap32& spare) {
    TImageLoadRequest& request = order.Request;
    TImageLoadResult result;
    // A picture of the same size is decoded straight into it, as in the program.
    result.Bitmap = std::move(spare);
    QString reason;
    g_request.store(order.Sequence);
    g_stop.store(g_stopRequest.load() == order.Sequence);
    GrantDecoderFile(QFile::encodeName(request.FileName), fileFd);
    SetDisplayProfile(order.DisplayProfile);
    // The program's figure: this process cannot read the system's.
    SetAvailableMemoryForTesting(order.AvailableMemory);
    // The toolkit's readers stay in the program, which tries them itself.
    request.UseSecondary = false;
    if (order.QuickLook) {
        // The first look goes out as soon as it is decoded; the program draws it.
        // A copy: a picture arriving row by row keeps drawing into its look.
        request.Prepare = [&result](TBitmap32& picture, TDrawnPicture& drawn) {
            if (&picture != &result.Bitmap) drawn.Bitmap.Assign(picture);
        };
        request.Quick.Ready = [socket](TDrawnPicture&& drawn) {
            const int fd = PixelsToSharedMemory(drawn.Bitmap);
            if (fd < 0) return;
            const TPixelsHeader header{drawn.Bitmap.Width(), drawn.Bitmap.Height(), std::nullopt};
            (void)SendDecoderMessage(socket, TDecoderMessage::dmQuickLook,
                                     EncodePixelsHeader(header), fd);
            ::close(fd);
        };
    }
    try {
        ActOutFault(request.FileName, reason);
        RunImageLoad(request, g_stop, result);
    } catch (...) {
        result = TImageLoadResult();
        result.Status = TImageLoaderProStatus::ilError;
    }
    GrantDecoderFile({}, -1);
    ::close(fileFd);
    // A stopped or failed load keeps its buffer here for the next one, as the program's
    // loader keeps a stopped load's buffer.
    if (result.Status != TImageLoaderProStatus::ilSucces) {
        if (!result.Bitmap.Empty()) spare = std::move(result.Bitmap);
        result.Bitmap.SetSize(0, 0);
    }

    TPixelsHeader pixels;
    int pixelsFd = -1;
    if (result.Status == TImageLoaderProStatus::ilSucces && !result.Bitmap.Empty()) {
        pixelsFd = PixelsToSharedMemory(result.Bitmap);
        if (pixelsFd < 0) {
            result.Status = TImageLoaderProStatus::ilError;
            reason = QStringLiteral("no shared memory for the pixels");
        } else {
            pixels = {result.Bitmap.Width(), result.Bitmap.Height(), result.Bitmap.IsOpaque()};
        }
    }
    // The pixels are the program's from here on: this process lets go of its mapping
    // right after sending, so the picture is held once.
    const bool sent = SendDecoderMessage(socket, TDecoderMessage::dmResult,
                                         EncodeDecodeResult(result, pixels, reason), pixelsFd);
    if (pixelsFd >= 0) ::close(pixelsFd);
    if (!sent) std::_Exit(0);
}

} // namespace

bool PrepareDecoderService(int socket, std::uint64_t memoryLimit) {
    // Ends with the program, however the program ends, even in the middle of a decode
    // (a parent-death signal would come when the program's thread that started this
    // process ends, not the program).
    const pid_t parent = ::getppid();
    std::thread([parent] {
        while (::getppid() == parent) std::this_thread::sleep_for(std::chrono::milliseconds(250));
        std::_Exit(0);
    }).detach();
    g_fault = FaultFromEnvironment();
    TraceRefusedSystemCalls(std::getenv("PICTREL_DECODER_TRACE") != nullptr);
    struct sigaction stop {};
    stop.sa_sigaction = &OnStopRequest;
    stop.sa_flags = SA_RESTART | SA_SIGINFO;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGUSR1, &stop, nullptr);
    // The program starts this process with stop requests blocked, so that one sent while
    // it starts waits for the handler instead of ending it.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // What the decoders would load from disk on first use is loaded now.
    EnsureFreeImage();
    heif_init(nullptr);
    // The local time zone, for dates in the information lines.
    ::tzset();
    (void)DisplayProfile();
    (void)AvailableMemory();
    UseSharedBitmapMemory();

    g_memoryLimit = memoryLimit;
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's shadow needs the whole address space; its own allocation limit
    // (set by the program through ASAN_OPTIONS) stands in for this one.
    memoryLimit = 0;
#endif
    QString error;
    if (!EnterDecoderSandbox(socket, memoryLimit, error)) {
        std::fprintf(stderr, "pictrel-decoder: %s\n", error.toLocal8Bit().constData());
        return false;
    }
    return true;
}

int RunDecoderService(int socket) {
    // The program's last picture, handed back as the buffer of the next one.
    TBitmap32 spare;
    for (;;) {
        TDecoderEnvelope message;
        if (!ReceiveDecoderMessage(socket, message)) return 0;
        if (message.Kind == TDecoderMessage::dmSpare) {
            TPixelsHeader pixels;
            spare.SetSize(0, 0);
            if (!ParsePixelsHeader(message.Body, pixels)) {
                if (message.Fd >= 0) ::close(message.Fd);
                return 1;
            }
            if (!AdoptSpareBuffer(message.Fd, pixels, spare)) return 1;
            continue;
        }
        TDecodeOrder order;
        if (message.Kind != TDecoderMessage::dmRequest || message.Fd < 0 ||
            !ParseDecodeOrder(message.Body, order)) {
            if (message.Fd >= 0) ::close(message.Fd);
            return 1;
        }
        Answer(socket, order, message.Fd, spare);
    }
}
