#pragma once

#include <mpv/client.h>

#include <QString>

// The media library, opened the first time music is played rather than linked to the
// program: it brings a couple of hundred libraries with it, and every start of the viewer
// would wait for the system to load and link them.
struct TMpvLibrary {
    decltype(&mpv_create) Create = nullptr;
    decltype(&mpv_initialize) Initialize = nullptr;
    decltype(&mpv_terminate_destroy) TerminateDestroy = nullptr;
    decltype(&mpv_set_option_string) SetOptionString = nullptr;
    decltype(&mpv_set_property) SetProperty = nullptr;
    decltype(&mpv_get_property) GetProperty = nullptr;
    decltype(&mpv_command) Command = nullptr;
    decltype(&mpv_wait_event) WaitEvent = nullptr;
    decltype(&mpv_error_string) ErrorString = nullptr;
};

// The library with every function found, or null when it cannot be opened (the reason
// is then in MpvLibraryError()). Opened once per process, from any thread.
[[nodiscard]] const TMpvLibrary* MpvLibrary();
[[nodiscard]] QString MpvLibraryError();
