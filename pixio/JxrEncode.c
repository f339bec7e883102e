/* JPEG XR encoding over jxrlib, from one of the library's sample layouts. */
#include "pixio/JxrEncode.h"

#include <JXRGlue.h>

#include <stdio.h>
#include <string.h>

static const PKPixelFormatGUID *GuidOf(int layout) {
  switch (layout) {
    case JXR_GRAY8: return &GUID_PKPixelFormat8bppGray;
    case JXR_GRAY16: return &GUID_PKPixelFormat16bppGray;
    case JXR_BGR8: return &GUID_PKPixelFormat24bppBGR;
    case JXR_BGRA8: return &GUID_PKPixelFormat32bppBGRA;
    case JXR_RGB16: return &GUID_PKPixelFormat48bppRGB;
    case JXR_RGBA16: return &GUID_PKPixelFormat64bppRGBA;
    default: return NULL;
  }
}

static void SetText(DPKPROPVARIANT *v, const char *s) {
  if (!s || !*s) return;
  v->vt = DPKVT_LPSTR;
  v->VT.pszVal = (char *)s; /* read only: jxrlib copies the text into the container */
}

int JxrEncodeFile(const char *Path, const JxrEncodeParams *P, char *Error, size_t ErrorLen) {
  struct WMPStream *stream = NULL;
  PKImageEncode *enc = NULL;
  CWMIStrCodecParam scp;
  const char *what = "the JPEG XR encoder failed";
  int rc = -1;
  const PKPixelFormatGUID *guid = GuidOf(P->Layout);
  const int gray = P->Layout == JXR_GRAY8 || P->Layout == JXR_GRAY16;
  const int alpha = P->Layout == JXR_BGRA8 || P->Layout == JXR_RGBA16;
  U32 i;

  if (!guid) {
    what = "unsupported sample layout";
    goto done;
  }
  memset(&scp, 0, sizeof scp);
  scp.cfColorFormat = gray ? Y_ONLY : (COLORFORMAT)P->ColorFormat;
  scp.bdBitDepth = BD_LONG;
  scp.bfBitstreamFormat = SPATIAL;
  scp.olOverlap = (OVERLAP)P->Overlap;
  scp.sbSubband = SB_ALL;
  scp.uiDefaultQPIndex = (U8)P->QP;
  scp.uiDefaultQPIndexAlpha = (U8)P->AlphaQP;
  scp.uAlphaMode = alpha ? (P->InterleavedAlpha ? 3 : 2) : 0;
  scp.cNumOfSliceMinus1V = P->TilesAcrossMinus1;
  scp.cNumOfSliceMinus1H = P->TilesDownMinus1;
  {
    /* Equal tiles; the encoder takes the first macroblock of each. */
    const U32 mbW = (P->Width + 15) / 16, mbH = (P->Height + 15) / 16;
    for (i = 0; i <= scp.cNumOfSliceMinus1V; ++i) scp.uiTileX[i] = i * mbW / (scp.cNumOfSliceMinus1V + 1);
    for (i = 0; i <= scp.cNumOfSliceMinus1H; ++i) scp.uiTileY[i] = i * mbH / (scp.cNumOfSliceMinus1H + 1);
  }

  if (CreateWS_File(&stream, Path, "wb") != WMP_errSuccess) {
    what = "cannot create the JPEG XR file";
    goto done;
  }
  if (PKImageEncode_Create_WMP(&enc) != WMP_errSuccess) goto done;
  if (enc->Initialize(enc, stream, &scp, sizeof scp) != WMP_errSuccess) goto done;
  stream = NULL; /* the encoder owns it now */
  if (scp.uAlphaMode == 2) enc->WMP.wmiSCP_Alpha.uiDefaultQPIndex = (U8)P->AlphaQP;
  if (enc->SetPixelFormat(enc, *guid) != WMP_errSuccess || enc->SetSize(enc, (I32)P->Width, (I32)P->Height) != WMP_errSuccess)
    goto done;
  if (P->XResolution > 0 && P->YResolution > 0 && enc->SetResolution(enc, P->XResolution, P->YResolution) != WMP_errSuccess)
    goto done;
  if (P->Profile && P->ProfileLen && enc->SetColorContext(enc, P->Profile, P->ProfileLen) != WMP_errSuccess) {
    what = "cannot store the ICC profile";
    goto done;
  }
  {
    DESCRIPTIVEMETADATA meta;
    memset(&meta, 0, sizeof meta);
    SetText(&meta.pvarImageDescription, P->Text[0]);
    SetText(&meta.pvarCameraMake, P->Text[1]);
    SetText(&meta.pvarCameraModel, P->Text[2]);
    SetText(&meta.pvarSoftware, P->Text[3]);
    SetText(&meta.pvarDateTime, P->Text[4]);
    SetText(&meta.pvarArtist, P->Text[5]);
    SetText(&meta.pvarCopyright, P->Text[6]);
    if (enc->SetDescriptiveMetadata(enc, &meta) != WMP_errSuccess) goto done;
  }
  if (P->Exif && P->ExifLen && PKImageEncode_SetEXIFMetadata_WMP(enc, P->Exif, P->ExifLen) != WMP_errSuccess) {
    what = "cannot store the Exif data";
    goto done;
  }
  if (P->Gps && P->GpsLen && PKImageEncode_SetGPSInfoMetadata_WMP(enc, P->Gps, P->GpsLen) != WMP_errSuccess) {
    what = "cannot store the GPS data";
    goto done;
  }
  if (enc->WritePixels(enc, P->Height, (U8 *)P->Pixels, P->Stride) != WMP_errSuccess) {
    what = "the JPEG XR encoder rejected the pixels";
    goto done;
  }
  rc = 0;
done:
  if (enc) {
    /* Release finishes the container and closes the file. */
    if (enc->Release(&enc) != WMP_errSuccess && rc == 0) {
      rc = -1;
      what = "cannot finish the JPEG XR file";
    }
  }
  if (stream) stream->Close(&stream);
  if (rc != 0) snprintf(Error, ErrorLen, "%s", what);
  return rc;
}
