/* JPEG XR decoding over jxrlib, in the file's own pixel format; the caller
 * maps that onto the library's output layout. */
#include "pixio/JxrDecode.h"

#include <JXRGlue.h>

#include <stdio.h>
#include <string.h>

static const struct {
  const PKPixelFormatGUID *Guid;
  int Layout;
  uint32_t Bytes;
} Formats[] = {
    {&GUID_PKPixelFormat8bppGray, JXR_GRAY8, 1},   {&GUID_PKPixelFormat16bppGray, JXR_GRAY16, 2},
    {&GUID_PKPixelFormat24bppRGB, JXR_RGB8, 3},    {&GUID_PKPixelFormat24bppBGR, JXR_BGR8, 3},
    {&GUID_PKPixelFormat32bppBGR, JXR_BGRX8, 4},   {&GUID_PKPixelFormat32bppBGRA, JXR_BGRA8, 4},
    {&GUID_PKPixelFormat32bppRGBA, JXR_RGBA8, 4},  {&GUID_PKPixelFormat48bppRGB, JXR_RGB16, 6},
    {&GUID_PKPixelFormat64bppRGBA, JXR_RGBA16, 8}, {&GUID_PKPixelFormat32bppCMYK, JXR_CMYK8, 4},
    {&GUID_PKPixelFormat64bppCMYK, JXR_CMYK16, 8},
};

static int LayoutOf(const PKPixelFormatGUID *pf, uint32_t *bytes) {
  for (size_t i = 0; i < sizeof Formats / sizeof Formats[0]; ++i)
    if (IsEqualGUID(pf, Formats[i].Guid)) {
      *bytes = Formats[i].Bytes;
      return Formats[i].Layout;
    }
  return 0;
}

int JxrLayoutOfGuid(const uint8_t Guid[16], uint32_t *BytesPerPixel) {
  PKPixelFormatGUID g;
  memcpy(&g, Guid, sizeof g); /* the container stores the GUID in its in-memory (little-endian) order */
  return LayoutOf(&g, BytesPerPixel);
}

int JxrDecodeInto(const uint8_t *Data, size_t Size, uint8_t *Pixels, uint32_t Stride, uint32_t Width,
                  uint32_t Height, int Layout, char *Error, size_t ErrorLen) {
  struct WMPStream *stream = NULL;
  PKImageDecode *dec = NULL;
  int rc = -1;
  const char *what = "the JPEG XR decoder rejected the stream";
  PKPixelFormatGUID pf;
  I32 w = 0, h = 0;
  uint32_t bytes = 0;
  if (CreateWS_Memory(&stream, (void *)Data, Size) != WMP_errSuccess) goto done;
  if (PKImageDecode_Create_WMP(&dec) != WMP_errSuccess) goto done;
  if (dec->Initialize(dec, stream) != WMP_errSuccess) goto done;
  dec->fStreamOwner = 1;
  stream = NULL;
  if (dec->GetPixelFormat(dec, &pf) != WMP_errSuccess || dec->GetSize(dec, &w, &h) != WMP_errSuccess) goto done;
  /* A separate alpha plane is decoded only when asked for; alpha interleaved
   * with the colour channels needs its own mode, or it comes back as 0. */
  dec->WMP.wmiSCP.uAlphaMode = dec->WMP.bHasAlpha ? 2 : (Layout == JXR_BGRA8 || Layout == JXR_RGBA8 || Layout == JXR_RGBA16) ? 3 : 0;
  if (w <= 0 || h <= 0 || (uint32_t)w != Width || (uint32_t)h != Height || LayoutOf(&pf, &bytes) != Layout ||
      (size_t)bytes * (uint32_t)w > Stride) {
    what = "JPEG XR stream disagrees with its container";
    goto done;
  }
  {
    PKRect rect = {0, 0, w, h};
    if (dec->Copy(dec, &rect, Pixels, (U32)Stride) != WMP_errSuccess) {
      what = "damaged JPEG XR image data";
      goto done;
    }
  }
  rc = 0;
done:
  if (dec) dec->Release(&dec);
  if (stream) CloseWS_Memory(&stream);
  if (rc != 0) snprintf(Error, ErrorLen, "%s", what);
  return rc;
}
