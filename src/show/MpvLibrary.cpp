#include "show/MpvLibrary.h"

#include <dlfcn.h>

namespace {

struct TLoaded {
    TMpvLibrary Library;
    QString Error;
    bool Ok = false;
};

template <class F>
bool Resolve(void* handle, const char* name, F& target) {
    target = reinterpret_cast<F>(dlsym(handle, name));
    return target != nullptr;
}

TLoaded Load() {
    TLoaded loaded;
    void* handle = nullptr;
    // The library's interface generation the program was built for, then the
    // development link to whatever is installed.
    for (const char* name : {"libmpv.so.2", "libmpv.so"}) {
        handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) break;
    }
    if (handle == nullptr) {
        const char* why = dlerror();
        loaded.Error =
            QStringLiteral("the media library (libmpv) is not installed") +
            (why != nullptr ? QStringLiteral(": ") + QString::fromLocal8Bit(why) : QString());
        return loaded;
    }
    TMpvLibrary& l = loaded.Library;
    loaded.Ok = Resolve(handle, "mpv_create", l.Create) &&
                Resolve(handle, "mpv_initialize", l.Initialize) &&
                Resolve(handle, "mpv_terminate_destroy", l.TerminateDestroy) &&
                Resolve(handle, "mpv_set_option_string", l.SetOptionString) &&
                Resolve(handle, "mpv_set_property", l.SetProperty) &&
                Resolve(handle, "mpv_get_property", l.GetProperty) &&
                Resolve(handle, "mpv_command", l.Command) &&
                Resolve(handle, "mpv_wait_event", l.WaitEvent) &&
                Resolve(handle, "mpv_error_string", l.ErrorString);
    // The handle stays open for the rest of the run: players may come and go.
    if (!loaded.Ok) loaded.Error = QStringLiteral("the media library (libmpv) is too old");
    return loaded;
}

const TLoaded& Loaded() {
    static const TLoaded loaded = Load();
    return loaded;
}

} // namespace

const TMpvLibrary* MpvLibrary() {
    return Loaded().Ok ? &Loaded().Library : nullptr;
}

QString MpvLibraryError() {
    return Loaded().Error;
}
