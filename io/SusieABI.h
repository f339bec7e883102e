/* The image-loader and archive plug-in interface on Linux: what a "*.spi"
 * file exports and how the host calls it. Both the host (io/SusiePlugin.cpp)
 * and the plug-ins (plugins/, the test plug-in) include this one header, so
 * there is one statement of the interface.
 *
 * A plug-in is an ELF shared object named "*.spi" that exports the published
 * entry points below with C linkage and the platform's own calling
 * convention (the Windows __stdcall has no meaning here). The published
 * argument lists are kept, with these carried-over rules:
 *
 *  - Blocks that Windows hands over as local-memory handles (the BITMAPINFO
 *    and pixel blocks of GetPicture, the member table of GetArchiveInfo, the
 *    extracted member of GetFile, PictureInfo.hInfo) are allocated by the
 *    plug-in with malloc() and released by the host with free(): host and
 *    plug-ins share the one C library of the process.
 *  - File names are UTF-8 paths. A path the host cannot hand over as such (it
 *    is not valid UTF-8, or too long for open()) is read into memory by the
 *    host and passed with the memory flag; IsSupported then gets only the
 *    file's last name component, and the decision rests on the 2 KB head.
 *  - IsSupported's second argument always points to the first 2048 bytes of
 *    the file (zero-padded); the host never passes a file descriptor there.
 *  - Records are packed (no padding) and use fixed-width fields, so their
 *    layout is the published one whatever the compiler.
 *  - Every entry point answers SPI_SUCCESS (0) on success and one of the
 *    published error codes otherwise; IsSupported answers non-zero when the
 *    plug-in reads the file. An entry point a plug-in does not implement is
 *    simply not exported; the host then answers SPI_NOT_IMPLEMENTED itself.
 */
#ifndef TESSIVO_IO_SUSIEABI_H
#define TESSIVO_IO_SUSIEABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Interface versions answered by GetPluginInfo(0). */
#define SPI_VERSION_IMAGE "00IN"
#define SPI_VERSION_ARCHIVE "00AM"

/* Results. */
#define SPI_NOT_IMPLEMENTED (-1)
#define SPI_SUCCESS 0
#define SPI_CALLBACK_ABORT 1
#define SPI_UNKNOWN_FORMAT 2
#define SPI_BROKEN_DATA 3
#define SPI_NO_MEMORY 4
#define SPI_MEMORY_ERROR 5
#define SPI_FILE_READ_ERROR 6
#define SPI_WINDOW_ERROR 7
#define SPI_INTERNAL_ERROR 8
#define SPI_FILE_WRITE_ERROR 9
#define SPI_END_OF_FILE 10
/* This interface's own addition: the member is encrypted and the plug-in
 * has no password for it. */
#define SPI_ENCRYPTED 11

/* Source flags (low three bits of flag): the source is a file name, or a
 * block of memory whose length is len. */
#define SPI_INPUT_FILE 0x0
#define SPI_INPUT_MEMORY 0x1
#define SPI_INPUT_MASK 0x7
/* Destination flags of GetFile (bits 8 to 10): a folder to write into, or
 * memory (dest is then a void ** that receives a malloc'd block). */
#define SPI_OUTPUT_FILE 0x000
#define SPI_OUTPUT_MEMORY 0x100
#define SPI_OUTPUT_MASK 0x700

#define SPI_HEAD_SIZE 2048

#pragma pack(push, 1)

/* PictureInfo of the published interface. */
typedef struct SusiePictureInfo {
  int32_t left, top;     /* where the picture sits on its canvas */
  int32_t width, height; /* in pixels */
  uint16_t x_density, y_density;
  int16_t colorDepth;    /* bits per pixel */
  void *hInfo;           /* malloc'd text of extra information, or NULL; the host frees it */
} SusiePictureInfo;

/* fileInfo of the published interface: one archive member. A table ends
 * with an entry whose method[0] is 0. */
typedef struct SusieFileInfo {
  unsigned char method[8]; /* compression method, not necessarily terminated */
  uint32_t position;       /* where GetFile finds the member (the plug-in's own choice) */
  uint32_t compsize;
  uint32_t filesize;
  int32_t timestamp;       /* seconds since 1970-01-01 UTC */
  char path[200];          /* folder inside the archive, '/' separated, UTF-8 */
  char filename[200];      /* name, UTF-8 */
  uint32_t crc;
} SusieFileInfo;

/* BITMAPINFOHEADER, for plug-ins that build their DIB with it. */
typedef struct SusieBitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;      /* positive: rows bottom-up */
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
} SusieBitmapInfoHeader;

#pragma pack(pop)

/* Progress callback of GetPicture and GetFile: answering non-zero stops the
 * call with SPI_CALLBACK_ABORT. The host passes NULL. */
typedef int (*SusieProgressCallback)(int nNum, int nDenom, intptr_t lData);

/* The published entry points. */
typedef int (*SusieGetPluginInfoProc)(int infono, char *buf, int buflen);
typedef int (*SusieIsSupportedProc)(const char *filename, const void *head);
typedef int (*SusieGetPictureInfoProc)(const char *buf, intptr_t len, unsigned int flag, SusiePictureInfo *lpInfo);
typedef int (*SusieGetPictureProc)(const char *buf, intptr_t len, unsigned int flag, void **pHBInfo, void **pHBm,
                                   SusieProgressCallback lpPrgressCallback, intptr_t lData);
typedef int (*SusieGetPreviewProc)(const char *buf, intptr_t len, unsigned int flag, void **pHBInfo, void **pHBm,
                                   SusieProgressCallback lpPrgressCallback, intptr_t lData);
typedef int (*SusieConfigurationDlgProc)(void *parent, int fnc);
/* Archives: buf is the archive (file name, or memory with len its size);
 * for a file, len is the offset at which the archive starts in it. */
typedef int (*SusieGetArchiveInfoProc)(const char *buf, intptr_t len, unsigned int flag, void **lphInf);
typedef int (*SusieGetFileInfoProc)(const char *buf, intptr_t len, const char *filename, unsigned int flag,
                                    SusieFileInfo *lpInfo);
/* src is the archive file name and len the member's position; with
 * SPI_OUTPUT_MEMORY, dest is a void ** that receives the member's bytes
 * (exactly filesize of them). */
typedef int (*SusieGetFileProc)(const char *src, intptr_t len, char *dest, unsigned int flag,
                                SusieProgressCallback prgressCallback, intptr_t lData);

/* This interface's own addition, optional: the first buflen bytes of the
 * member at position len of the archive file src into the caller's buf
 * (fewer when the member is shorter; *got receives how many). The host
 * probes a listed member from its head instead of extracting it whole, and
 * uses GetFile when a plug-in does not export this. */
typedef int (*SusieGetFileHeadProc)(const char *src, intptr_t len, void *buf, uint32_t buflen, uint32_t *got);

#ifdef __cplusplus
}
#endif

#endif
