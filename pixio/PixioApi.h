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

  /* read_jpeg: a page block of the caller's (contents undefined) that the
     decoder fills instead of a new one when it fits the image; set to null
     when taken, left for the caller to release otherwise */
  uint8_t *SpareMem;
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

/* The first five fields of the image record: pixels that cross the interface
 * without a decode record around them (the TIFF and HD Photo thumbnail). */
typedef struct TPixioImage {
  uint8_t *Mem;
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t Channels;
} TPixioImage;

/* Flags of TPixioEncode.Flags (JPEG). */
#define PIXIO_FLAG_YCBCR_INPUT 0x2u         /* the pixels are Y,Cb,Cr already */
#define PIXIO_FLAG_EXPLICIT_TABLES 0x1000u  /* QTCount, QTIndex and QT hold the tables */
#define PIXIO_FLAG_OMIT_APP0 0x10000u       /* no JFIF segment when Exif is written */

/* One encode call. The caller zeroes the record and fills the image and the
 * fields of the format it writes; everything else is ignored.
 *
 * Row order: bottom-up for write_jpeg, write_jpeg_to_memory and write_png,
 * top-down for write_tiff and write_hdp. Sample order: 8-bit colour is
 * B,G,R(,A); 16-bit colour is B,G,R(,A) for write_png and R,G,B(,A) for
 * write_tiff and write_hdp (the saver exchanges them first); 16-bit samples are
 * little-endian. With a palette, Mem holds indexes of BitsPerSample bits
 * (1, 2, 4 or 8), packed from the most significant bit, Channels is 1. */
typedef struct TPixioEncode {
  /* image: the first five fields of the image record */
  uint8_t *Mem;
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t Channels;       /* 1 gray, 2 gray+alpha (PNG), 3 colour, 4 colour+alpha, or CMYK for JPEG */
  uint32_t BitsPerSample;  /* 8 (0 reads as 8); 16 for PNG, TIFF, HD Photo; 1, 2, 4 with a palette */
  const uint8_t *ICCProfile; /* written when not null */
  uint32_t ProfileLen;

  /* JPEG */
  int32_t Quality;         /* 0..100; HD Photo: the stored option value, 1 lossless .. 100 */
  int32_t HSamp;           /* sampling factors of the first component: 2,2 4:2:0; 2,1 4:2:2; 1,1 4:4:4; 4,1 4:1:1 */
  int32_t VSamp;
  int32_t Smoothing;       /* 0..100 */
  uint32_t Flags;          /* PIXIO_FLAG_* */
  int32_t DCTMethod;       /* 0 accurate integer, 1 fast integer, 2 floating point */
  uint32_t XDensity;       /* JFIF density, 1..65535 */
  uint32_t YDensity;
  int32_t DensityUnit;     /* 1 dots per inch, 2 per centimetre, 0 aspect ratio only */
  const uint8_t *Marker;   /* extra segments (0xFF, code, 16-bit length, payload) end to end, written in order */
  uint32_t MarkerCount;
  uint32_t MarkerSize;     /* bytes of the block; 0 when the caller only knows the count */
  int32_t QTCount;         /* explicit tables: 1..4 tables */
  int32_t QTChannels;      /* components covered by QTIndex */
  int32_t QTIndex[4];      /* table of each component */
  uint32_t QT[4][64];      /* natural (row-major) order, 1..32767 */
  int32_t Progressive;

  /* PNG */
  int32_t Filter;          /* allowed row filters: 8 None, 16 Sub, 32 Up, 64 Average, 128 Paeth; 0 the library's choice */
  int32_t CompressLevel;   /* 0..9 */
  uint32_t BGColor;        /* bKGD: COLORREF (red in the low byte); gray images use the low byte */
  int32_t WriteBGColor;
  const uint8_t *Palette;  /* R,G,B triples, PaletteCount of them; PNG and TIFF */
  int32_t PaletteCount;
  int32_t TransparentIndex0; /* PNG: palette entry 0 is fully transparent */
  int32_t SmallPalette;    /* PNG: 16 colours or fewer, indexes may be packed below 8 bits */
  int32_t PhysX;           /* pHYs, written when both are positive */
  int32_t PhysY;
  int32_t PhysUnit;        /* 1 metre, 0 unknown */
  const uint8_t *Exif;     /* eXIf chunk when not null: the APP1 payload ("Exif", two zero bytes, TIFF structure) or a bare TIFF structure */
  uint32_t ExifLen;

  /* TIFF and HD Photo */
  int32_t Compression;     /* TIFF: 1 none, 4 LZW, 6 ZIP, 7 LZW with horizontal differencing (0 reads as 1) */
  double XResolution;      /* dots per inch; written when both are positive */
  double YResolution;
  uint32_t NewWidth;       /* Exif update: pixel dimensions when not 0 */
  uint32_t NewHeight;
  int32_t ResetOrientation; /* Exif update: orientation becomes 1 */
  int32_t CopyMakerNote;   /* Exif update: keep the maker note (its inner offsets may break) */
  int32_t DeleteGPS;       /* Exif update: drop the GPS data */

  /* HD Photo */
  int32_t Overlap;         /* 0..2 */
  int32_t Subsampling;     /* 1 4:2:0, 2 4:2:2, 3 4:4:4 */
  int32_t HorizontalTileSlices; /* tiles across minus 1 */
  int32_t VerticalTileSlices;   /* tiles down minus 1 */
  int32_t InterleavedAlpha;
  int32_t AlphaQuality;    /* like Quality */
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

/* Encoders. write_jpeg and write_png take an open file descriptor, written from
 * its current position and left open; write_jpeg_to_memory fails when the JPEG
 * does not fit and sets *Length to the bytes produced. Exif: the APP1 payload
 * ("Exif", two zero bytes, TIFF structure), a bare TIFF structure, or a JPEG
 * file whose APP1 holds it. The thumbnail of write_tiff is 8-bit, top-down and
 * in the image's channel layout; write_hdp does not store one. */
PIXIO_EXPORT int write_jpeg(const TPixioEncode *Info, int Fd, const uint8_t *Exif, uint32_t ExifLen);
PIXIO_EXPORT int write_jpeg_to_memory(const TPixioEncode *Info, uint8_t *Buffer, uint32_t *Length,
                                      const uint8_t *Exif, uint32_t ExifLen);
PIXIO_EXPORT int write_png(const TPixioEncode *Info, int Fd);
PIXIO_EXPORT int write_tiff(const TPixioEncode *Info, const TPixioImage *Thumbnail, const char *FileName,
                            const uint8_t *Exif, uint32_t ExifLen, int UpdateSoftware);
PIXIO_EXPORT int write_hdp(const TPixioEncode *Info, const TPixioImage *Thumbnail, const char *FileName,
                           const uint8_t *Exif, uint32_t ExifLen, int UpdateSoftware);
/* The Exif of a non-JPEG source (TIFF, PNG eXIf, WebP, HEIF, JPEG XR) as a
 * small JPEG whose APP1 holds it, written into Out. A TIFF's or JPEG XR's
 * tags describing its pixels are left out; with UpdateSoftware the Software
 * tag names the program. Returns the JPEG's length, 0 when there is no Exif
 * or it does not fit. */
PIXIO_EXPORT int create_exif(uint8_t *Out, uint32_t OutSize, const uint8_t *Data, size_t Size, int UpdateSoftware);

#ifdef __cplusplus
}
#endif

#endif
