/* A small C interface to jxrlib, whose headers do not mix with C++. */
#ifndef PIXIO_JXR_DECODE_H
#define PIXIO_JXR_DECODE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sample layouts the decoder hands back. */
enum JxrLayout {
  JXR_GRAY8 = 1, JXR_GRAY16, JXR_RGB8, JXR_BGR8, JXR_BGRX8, JXR_BGRA8, JXR_RGBA8,
  JXR_RGB16, JXR_RGBA16, JXR_CMYK8, JXR_CMYK16
};

/* The layout of a pixel-format GUID as stored in the container (0 when the
 * library does not read it) and its bytes per pixel. */
int JxrLayoutOfGuid(const uint8_t Guid[16], uint32_t *BytesPerPixel);

/* Decodes the whole image into Pixels (Stride bytes per row, at least
 * Height rounded up to 16 rows), after checking that the stream has the
 * expected size and layout. Returns 0 on success, else a message in Error. */
int JxrDecodeInto(const uint8_t *Data, size_t Size, uint8_t *Pixels, uint32_t Stride, uint32_t Width,
                  uint32_t Height, int Layout, char *Error, size_t ErrorLen);

#ifdef __cplusplus
}
#endif

#endif
