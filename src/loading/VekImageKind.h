#pragma once

#include <cstdint>

// What the last load found. The multi-page kinds are ikGif, ikTiff and ikIcon: only
// for them does the multi-page holder take the loader's handle over.
enum class TVekImageKind : std::uint8_t {
    ikRaw = 0,          // the RAW decoder accepted the file
    ikHighBitDepth = 1, // the decoded page has more than 32 bits per pixel
    ikGif = 2,
    ikTiff = 3,
    ikIcon = 4,
    ikPng = 5,
    ikJpeg = 6,
    ikBmp = 7,
    ikOther = 8,  // any other format, or decoded through the secondary registry
    ikNone = 9,   // initial value and value while a load runs
    ikModern = 10 // HEIF, AVIF or JPEG XL; a HEIF file's pages are its top-level pictures
};

// The state of an image loader.
enum class TImageLoaderProStatus : std::uint8_t {
    ilNone,
    ilOpening,
    ilError,
    ilSucces,
    ilTerminated
};
