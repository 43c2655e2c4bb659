#pragma once

// vekraw: the program's small RAW decoding library, a C interface over LibRaw.
//
// A handle decodes one file at a time into a demosaiced, linear, not white-balanced
// 16-bit image of width x height pixels, row by row, four samples per pixel in the
// order red, green, blue, second green (8 bytes per pixel). Three-colour sensors carry
// the green sample in the second green as well. The orientation code is recorded but
// never applied: the image is delivered as stored on the sensor (a sensor of diagonal
// layout comes out turned upright, non-square pixels stretched square, as LibRaw
// develops them). A picture the decoder's buffer does not hold whole, or one above the
// loader's memory rule, is not decoded.
//
// No function throws; a null handle is accepted everywhere and does nothing.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vekraw_context* vekraw_handle;

// A fresh handle, or null when it cannot be created.
vekraw_handle vekraw_init(void);
// Decode at half width and height when flag is 1.
void vekraw_set_halfsize(vekraw_handle handle, int32_t flag);
// LibRaw's demosaicing quality: 0 bilinear, 1 VNG, 2 PPG, 3 AHD, 4 DCB, 11 DHT,
// 12 modified AHD; any other value lets LibRaw choose.
void vekraw_set_interpolation(vekraw_handle handle, int32_t mode);
// Reads and decodes the file; vekraw_get_is_raw tells whether that worked.
void vekraw_load(vekraw_handle handle, const char* fileName);
// Non-zero when the last vekraw_load decoded a RAW file.
uint8_t vekraw_get_is_raw(vekraw_handle handle);
// The decoded samples (null when nothing is decoded), valid until vekraw_unload.
// asShot receives the camera's as-shot channel multipliers and daylight the daylight
// multipliers, each as four floats in the order red, green, blue, second green.
const uint16_t* vekraw_get_image(vekraw_handle handle, int32_t* width, int32_t* height,
                                 const float** asShot, const float** daylight);
// The file's orientation code (LibRaw's: 0 none, 3 180 degrees, 5 90 ccw, 6 90 cw).
int32_t vekraw_get_flip(vekraw_handle handle);
// Frees the decoded data; the handle stays usable.
void vekraw_unload(vekraw_handle handle);
// Last stage of development on a width x height buffer in the layout above. The
// program's own tables already do the whole development, so this leaves the buffer
// as it is.
void vekraw_render_external(vekraw_handle handle, uint16_t* buffer);
// Ends the handle.
void vekraw_finalize(vekraw_handle handle);

#ifdef __cplusplus
}
#endif
