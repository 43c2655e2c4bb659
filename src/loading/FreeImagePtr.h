#pragma once

#include <FreeImage.h>

#include <memory>

// Owning handles for FreeImage objects.
struct TFreeImageUnload {
    void operator()(FIBITMAP* dib) const noexcept { FreeImage_Unload(dib); }
};
struct TFreeImageCloseMulti {
    void operator()(FIMULTIBITMAP* handle) const noexcept { FreeImage_CloseMultiBitmap(handle, 0); }
};

using TFreeImagePtr = std::unique_ptr<FIBITMAP, TFreeImageUnload>;
using TFreeImageMultiPtr = std::unique_ptr<FIMULTIBITMAP, TFreeImageCloseMulti>;

// A page locked in a multi-page handle, unlocked unchanged when it goes.
class TLockedPage {
public:
    TLockedPage(FIMULTIBITMAP* handle, int page)
        : m_handle(handle), m_page(FreeImage_LockPage(handle, page)) {}
    ~TLockedPage() {
        if (m_page) FreeImage_UnlockPage(m_handle, m_page, FALSE);
    }
    TLockedPage(const TLockedPage&) = delete;
    TLockedPage& operator=(const TLockedPage&) = delete;

    [[nodiscard]] FIBITMAP* Get() const { return m_page; }

private:
    FIMULTIBITMAP* m_handle;
    FIBITMAP* m_page;
};
