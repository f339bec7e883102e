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

typedef struct JxrImage {
  uint8_t *Pixels; /* malloc'ed, Stride bytes per row, released with free() */
  uint32_t Width, Height, Stride, BytesPerPixel;
  int Layout;
  float XResolution, YResolution;
  uint8_t *Profile; /* malloc'ed or null */
  uint32_t ProfileLen;
} JxrImage;

/* Reads the size (and, when Decode is set, the pixels). Returns 0 on success,
 * else a negative code and a message in Error. */
int JxrDecodeMemory(const uint8_t *Data, size_t Size, int Decode, JxrImage *Out, char *Error, size_t ErrorLen);

#ifdef __cplusplus
}
#endif

#endif
