#pragma once

// The process-wide FreeImage set-up. The application holds one instance for its
// lifetime; loaders call EnsureFreeImage(), which is harmless when it already runs
// (FreeImage counts its initialisations).
class TFreeImageSetup {
public:
    TFreeImageSetup();
    ~TFreeImageSetup();
    TFreeImageSetup(const TFreeImageSetup&) = delete;
    TFreeImageSetup& operator=(const TFreeImageSetup&) = delete;
};

// Initialises FreeImage once for the process (until exit) if nobody has.
void EnsureFreeImage();
