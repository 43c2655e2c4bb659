#include "shell/StartupSeams.h"

#include "authoring/CurrentSlideshow.h"
#include "loading/ImageFilter.h"

QStringList LoaderExtensionList() {
    return GetImageFilter(true, true, true, false).split(',', Qt::SkipEmptyParts);
}

TSharedSlideshowScope::TSharedSlideshowScope() {
    CreateCurrentSlideshow();
}
TSharedSlideshowScope::~TSharedSlideshowScope() {
    FreeCurrentSlideshow();
}
