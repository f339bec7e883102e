/* A small C interface to jxrlib's encoder, whose headers do not mix with C++. */
#ifndef PIXIO_JXR_ENCODE_H
#define PIXIO_JXR_ENCODE_H

#include "pixio/JxrDecode.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct JxrEncodeParams {
  const uint8_t *Pixels;  /* top-down rows in Layout */
  uint32_t Stride, Width, Height;
  int Layout;             /* JXR_GRAY8, JXR_GRAY16, JXR_BGR8, JXR_BGRA8, JXR_RGB16, JXR_RGBA16 */
  int QP, AlphaQP;        /* 1 lossless .. 255 */
  int Overlap;            /* 0..2 */
  int ColorFormat;        /* 1 4:2:0, 2 4:2:2, 3 4:4:4 (ignored for gray) */
  uint32_t TilesAcrossMinus1, TilesDownMinus1; /* checked against the macroblock count by the caller */
  int InterleavedAlpha;
  float XResolution, YResolution; /* dots per inch */
  const uint8_t *Profile;
  uint32_t ProfileLen;
  const uint8_t *Exif;    /* little-endian IFD at offset 0, offsets relative to its start */
  uint32_t ExifLen;
  const uint8_t *Gps;
  uint32_t GpsLen;
  /* description, make, model, software, date and time, artist, copyright; null when absent */
  const char *Text[7];
} JxrEncodeParams;

/* Writes the file Path; returns 0 on success, else a message in Error. */
int JxrEncodeFile(const char *Path, const JxrEncodeParams *P, char *Error, size_t ErrorLen);

#ifdef __cplusplus
}
#endif

#endif
