/* JPEG XR decoding over jxrlib: decodes in the file's own pixel format, which
 * the caller then maps onto the library's output layout. */
#include "JxrDecode.h"

#include <JXRGlue.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int LayoutOf(const PKPixelFormatGUID *pf, uint32_t *bytes) {
  static const struct {
    const PKPixelFormatGUID *Guid;
    int Layout;
    uint32_t Bytes;
  } map[] = {
      {&GUID_PKPixelFormat8bppGray, JXR_GRAY8, 1},    {&GUID_PKPixelFormat16bppGray, JXR_GRAY16, 2},
      {&GUID_PKPixelFormat24bppRGB, JXR_RGB8, 3},     {&GUID_PKPixelFormat24bppBGR, JXR_BGR8, 3},
      {&GUID_PKPixelFormat32bppBGR, JXR_BGRX8, 4},    {&GUID_PKPixelFormat32bppBGRA, JXR_BGRA8, 4},
      {&GUID_PKPixelFormat32bppRGBA, JXR_RGBA8, 4},   {&GUID_PKPixelFormat48bppRGB, JXR_RGB16, 6},
      {&GUID_PKPixelFormat64bppRGBA, JXR_RGBA16, 8},  {&GUID_PKPixelFormat32bppCMYK, JXR_CMYK8, 4},
      {&GUID_PKPixelFormat64bppCMYK, JXR_CMYK16, 8},
  };
  for (size_t i = 0; i < sizeof map / sizeof map[0]; ++i)
    if (IsEqualGUID(pf, map[i].Guid)) {
      *bytes = map[i].Bytes;
      return map[i].Layout;
    }
  return 0;
}

int JxrDecodeMemory(const uint8_t *Data, size_t Size, int Decode, JxrImage *Out, char *Error, size_t ErrorLen) {
  struct WMPStream *stream = NULL;
  PKImageDecode *dec = NULL;
  int rc = -1;
  const char *what = "not a readable JPEG XR file";
  memset(Out, 0, sizeof *Out);
  /* The container must at least hold its header and first IFD offset. */
  if (Size < 16 || Data[0] != 'I' || Data[1] != 'I' || Data[2] != 0xBC) goto done;
  if (CreateWS_Memory(&stream, (void *)Data, Size) != WMP_errSuccess) goto done;
  if (PKImageDecode_Create_WMP(&dec) != WMP_errSuccess) goto done;
  if (dec->Initialize(dec, stream) != WMP_errSuccess) goto done;
  dec->fStreamOwner = 1;
  stream = NULL;
  /* A separate alpha plane is decoded only when asked for. */
  dec->WMP.wmiSCP.uAlphaMode = dec->WMP.bHasAlpha ? 2 : 0;
  {
    PKPixelFormatGUID pf;
    I32 w = 0, h = 0;
    uint32_t bytes = 0;
    if (dec->GetPixelFormat(dec, &pf) != WMP_errSuccess || dec->GetSize(dec, &w, &h) != WMP_errSuccess) goto done;
    if (w <= 0 || h <= 0 || w > (1 << 20) || h > (1 << 20) || (uint64_t)w * (uint64_t)h > ((uint64_t)1 << 30)) {
      what = "bad image size";
      goto done;
    }
    Out->Layout = LayoutOf(&pf, &bytes);
    if (!Out->Layout) {
      what = "unsupported JPEG XR pixel format";
      goto done;
    }
    Out->Width = (uint32_t)w;
    Out->Height = (uint32_t)h;
    Out->BytesPerPixel = bytes;
    dec->GetResolution(dec, &Out->XResolution, &Out->YResolution);
    {
      U32 cb = 0;
      if (dec->GetColorContext(dec, NULL, &cb) == WMP_errSuccess && cb > 0 && cb < (64u << 20)) {
        Out->Profile = (uint8_t *)malloc(cb);
        if (Out->Profile && dec->GetColorContext(dec, Out->Profile, &cb) == WMP_errSuccess) {
          Out->ProfileLen = cb;
        } else {
          free(Out->Profile);
          Out->Profile = NULL;
        }
      }
    }
    if (!Decode) {
      rc = 0;
      goto done;
    }
    {
      /* Macroblocks are 16x16; padding the buffer to whole blocks keeps the
       * decoder's edge writes inside it. */
      const size_t padW = ((size_t)w + 15) & ~(size_t)15, padH = ((size_t)h + 15) & ~(size_t)15;
      const size_t stride = (padW * bytes + 127) & ~(size_t)127;
      PKRect rect = {0, 0, w, h};
      Out->Stride = (uint32_t)stride;
      Out->Pixels = (uint8_t *)calloc(padH, stride);
      if (!Out->Pixels) {
        what = "out of memory";
        goto done;
      }
      if (dec->Copy(dec, &rect, Out->Pixels, (U32)stride) != WMP_errSuccess) {
        what = "damaged JPEG XR image data";
        goto done;
      }
    }
  }
  rc = 0;
done:
  if (dec) dec->Release(&dec);
  if (stream) CloseWS_Memory(&stream);
  if (rc != 0) {
    free(Out->Pixels);
    free(Out->Profile);
    memset(Out, 0, sizeof *Out);
    snprintf(Error, ErrorLen, "%s", what);
  }
  return rc;
}
