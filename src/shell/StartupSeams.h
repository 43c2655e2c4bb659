#pragma once

#include <QStringList>

// What start-up needs of the loader and of the shared slideshow description,
// apart from the role table.

// The loader's comma-separated list of readable extensions, split: what "/unreg"
// unregisters.
[[nodiscard]] QStringList LoaderExtensionList();

// Creates the shared slideshow description before any window and frees it at
// the end of the run.
class TSharedSlideshowScope {
public:
    TSharedSlideshowScope();
    ~TSharedSlideshowScope();
    TSharedSlideshowScope(const TSharedSlideshowScope&) = delete;
    TSharedSlideshowScope& operator=(const TSharedSlideshowScope&) = delete;
};
