/* Records and entry points of the codec library bin/libpixio.so, shared by the
 * library and the program. Plain C layout: the program binds the entry points
 * by name at run time, so every record here is part of the binary contract. */
#ifndef PIXIO_API_H
#define PIXIO_API_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(PIXIO_BUILDING)
#define PIXIO_EXPORT __attribute__((visibility("default")))
#else
#define PIXIO_EXPORT
#endif

/* Sampling and quantisation tables of a JPEG source; the same layout as the
 * image record's TJPEGQualityInfo so the loader can point straight at it. */
typedef struct TPixioQualityInfo {
  int32_t HSamp;            /* horizontal sampling factor of the first component */
  int32_t VSamp;            /* vertical sampling factor of the first component */
  int32_t QTCount;          /* one more than the largest table index used */
  uint16_t QT[3][64];       /* tables in natural (row-major) order */
  int32_t CompInfo[3][2];   /* per component: component id, table index */
} TPixioQualityInfo;

/* One decode call. The caller zeroes the record and fills the request fields;
 * the library fills the image and the result fields. Pixel memory and the ICC
 * profile are page-allocator blocks (released with PageFree) owned by the
 * caller after a successful call; on failure nothing is left allocated.
 *
 * Row order: bottom-up for read_png and read_jpeg, top-down for read_wic and
 * read_wic_thumbnail. Sample order: 8-bit colour is B,G,R(,A); 16-bit colour is
 * B,G,R(,A) from read_png but R,G,B(,A) from the read_wic calls; 16-bit samples
 * are little-endian. Bpl follows the image record's stride rule and the block
 * holds the height rounded up to 4 rows. */
typedef struct TPixioDecode {
  /* image: the first five fields of the image record */
  uint8_t *Mem;
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t Channels;       /* 1 gray, 2 gray+alpha (read_png only), 3 colour, 4 colour+alpha or CMYK */
  uint32_t BitsPerSample;  /* 8 or 16 */
  uint8_t *ICCProfile;     /* embedded profile or null */
  uint32_t ProfileLen;

  /* requests */
  int32_t WantBGColor;     /* read_png: report the bKGD colour */
  int32_t ScaleDenom;      /* read_jpeg: 1, 2, 4 or 8 (0 reads as 1) */
  int32_t DCTMethod;       /* read_jpeg: 0 accurate integer, 1 fast integer, 2 floating point */
  int32_t WantQualityInfo; /* read_jpeg: fill *QualityInfo */
  TPixioQualityInfo *QualityInfo; /* read_jpeg: the table area, supplied by the caller */
  int32_t WantYCbCr;       /* read_jpeg: deliver a YCbCr source undecoded (Y,Cb,Cr) */

  /* results */
  uint32_t BGColor;        /* COLORREF order: red in the low byte */
  int32_t HasBGColor;
  int32_t IsYCbCr;         /* read_jpeg: pixels are Y,Cb,Cr */
  int32_t IsCMYK;          /* 4 channels are C,M,Y,K */
  int32_t IsInvertedCMYK;  /* read_jpeg: Adobe-style CMYK, 255 means no ink */
  int32_t IsGrayAlpha;     /* read_wic: a gray+alpha source widened to B,G,R,A */
  double XResolution;      /* density found in the file, 0 when none */
  double YResolution;
  int32_t ResolutionUnit;  /* 0 aspect ratio only, 1 per inch, 2 per centimetre, 3 per metre */
} TPixioDecode;

/* What read_wic_info learns without decoding the pixels. */
typedef struct TPixioWICInfo {
  uint32_t Width;
  uint32_t Height;
  double XResolution;      /* dots per inch, 0 when unknown */
  double YResolution;
  int32_t Orientation;     /* Exif orientation 1..8, 0 none */
  char DateTimeOriginal[20]; /* "yyyy:mm:dd hh:nn:ss" and a terminating 0, or empty */
  int32_t HasExif;
  int32_t HasColorInfo;    /* the colour fields below come from Exif */
  int32_t ColorSpace;      /* Exif colour space, 1 sRGB */
  double WhitePoint[2];
  double PrimaryChromaticities[6];
  double Gamma;
} TPixioWICInfo;

/* One encode call (the encoders arrive with the saving code). */
typedef struct TPixioEncode {
  uint8_t *Mem;
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t Channels;
  uint32_t BitsPerSample;
  int32_t Quality;
  int32_t HSamp;
  int32_t VSamp;
  int32_t Smoothing;
  uint32_t Flags;          /* 2 input is YCbCr, 0x10000 omit APP0, 0x1000 explicit tables */
  int32_t DCTMethod;
  const uint8_t *ICCProfile;
  uint32_t ProfileLen;
  double XDensity;
  double YDensity;
  int32_t DensityUnit;
  const uint8_t *Marker;
  uint32_t MarkerCount;
  int32_t QTCount;
  int32_t QTChannels;
  int32_t QTIndex[3];
  uint32_t QT[3][64];
  int32_t Progressive;
  /* PNG */
  int32_t Filter;
  int32_t CompressLevel;
  uint32_t BGColor;
  int32_t WriteBGColor;
  const uint8_t *Palette;  /* RGB triples */
  int32_t PaletteCount;
  int32_t TransparentIndex0;
  int32_t SmallPalette;
  int32_t PhysX;
  int32_t PhysY;
  int32_t PhysUnit;
  /* TIFF and HD Photo */
  int32_t Compression;
  double XResolution;
  double YResolution;
  int32_t NewWidth;
  int32_t NewHeight;
  int32_t ResetOrientation;
  int32_t CopyMakerNote;
  int32_t DeleteGPS;
  int32_t Overlap;
  int32_t Subsampling;
  int32_t HorizontalTileSlices;
  int32_t VerticalTileSlices;
  int32_t InterleavedAlpha;
  int32_t AlphaQuality;
} TPixioEncode;

typedef void (*TPixioExtensionProc)(void *Context, const wchar_t *Extension);
typedef void (*TPixioErrorProc)(const char *Title, const char *Message);

/* Results: 0 failure, anything else success. */
PIXIO_EXPORT int read_png(TPixioDecode *Info, const uint8_t *Data, size_t Size);
PIXIO_EXPORT int read_jpeg(TPixioDecode *Info, const uint8_t *Data, size_t Size);
PIXIO_EXPORT int read_wic(TPixioDecode *Info, const uint8_t *Data, size_t Size);
PIXIO_EXPORT int read_wic_thumbnail(TPixioDecode *Info, const uint8_t *Data, size_t Size);
PIXIO_EXPORT int read_wic_info(const wchar_t *FileName, TPixioWICInfo *Info);
PIXIO_EXPORT int read_wic_info2(TPixioWICInfo *Info, const uint8_t *Data, size_t Size);
PIXIO_EXPORT int enumextensions(TPixioExtensionProc Proc, void *Context);
PIXIO_EXPORT void set_errormsg_callback(TPixioErrorProc Proc);

/* Encoders: declared for the binding's types; not exported by this build yet. */
int write_jpeg(const TPixioEncode *Info, int Fd, const uint8_t *Exif, uint32_t ExifLen);
int write_jpeg_to_memory(const TPixioEncode *Info, uint8_t *Buffer, uint32_t *Length,
                         const uint8_t *Exif, uint32_t ExifLen);
int write_png(const TPixioEncode *Info, int Fd);
int write_tiff(const TPixioEncode *Info, const TPixioDecode *Thumbnail, const char *FileName,
               const uint8_t *Exif, uint32_t ExifLen, int UpdateSoftware);
int write_hdp(const TPixioEncode *Info, const TPixioDecode *Thumbnail, const char *FileName,
              const uint8_t *Exif, uint32_t ExifLen, int UpdateSoftware);
int create_exif(uint8_t *Out, uint32_t OutSize, const uint8_t *Data, size_t Size, int UpdateSoftware);

#ifdef __cplusplus
}
#endif

#endif
