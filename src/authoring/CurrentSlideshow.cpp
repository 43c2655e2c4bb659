#include "authoring/CurrentSlideshow.h"

#include <memory>

namespace {

std::unique_ptr<TVekSettingsFile> g_currentSlideshow;

} // namespace

TVekSettingsFile* CurrentSlideshow() {
    return g_currentSlideshow.get();
}

void CreateCurrentSlideshow() {
    g_currentSlideshow = std::make_unique<TVekSettingsFile>();
}

void FreeCurrentSlideshow() {
    g_currentSlideshow.reset();
}
