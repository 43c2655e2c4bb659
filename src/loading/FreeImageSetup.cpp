#include "loading/FreeImageSetup.h"

#include <FreeImage.h>

TFreeImageSetup::TFreeImageSetup() {
    FreeImage_Initialise(FALSE);
}

TFreeImageSetup::~TFreeImageSetup() {
    FreeImage_DeInitialise();
}

void EnsureFreeImage() {
    static const TFreeImageSetup setup;
}
