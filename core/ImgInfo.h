// The image record that every loader, effect, resizer, colour transform and
// saver shares, its format and depth codes, and the functions that allocate,
// size, copy and release it.
#pragma once

#include <cstddef>
#include <cstdint>

using LongBool = int32_t;  // 32-bit flag: -1 for true, 0 for false, tested for non-zero
constexpr LongBool LongTrue = -1;
constexpr LongBool LongFalse = 0;

// Pixel-format codes (PixelFormat).
enum : uint32_t {
  PIXFMT_GRAY = 1,
  PIXFMT_BGR = 2,
  PIXFMT_BGRA = 3,
  PIXFMT_CMYK = 4,
  PIXFMT_YCC = 5,
  PIXFMT_GRAYALPHA = 6,
};

// Sample-depth codes (BPP). 14 is the signed working depth with full scale 16320.
enum : uint32_t {
  BPP_8 = 8,
  BPP_14 = 14,
  BPP_16 = 16,
};
constexpr int FULL_SCALE_14 = 16320;  // 255 * 64

// Which profile the pixels are in (ProfileType).
enum : uint32_t {
  PROFILE_NONE = 0,
  PROFILE_MONITOR = 1,
  PROFILE_DEFAULT_RGB = 2,
  PROFILE_WORKSPACE = 3,
  PROFILE_EMBEDDED = 4,
  PROFILE_DEFAULT_GRAY = 5,
  PROFILE_FROM_EXIF = 6,
  PROFILE_BUILTIN_SRGB = 7,
  PROFILE_BUILTIN_SGRAY = 8,
};

// Capacity of the Exif block attached to an image for its output.
constexpr uint32_t EXIF_BLOCK_CAPACITY = 131072;

struct TJPEGQualityInfo {
  int32_t HSamp;
  int32_t VSamp;
  int32_t QTCount;
  uint16_t QT[3][64];
  int32_t CompInfo[3][2];  // component value, quantisation-table index
};

struct TICCImgInfo {
  uint8_t *Mem;  // bottom row of the picture: rows are stored bottom-up
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t Channels;
  uint8_t *ICCProfile;
  uint32_t ProfileLen;
  uint32_t ProfileType;
  uint32_t PixelFormat;
  uint32_t BGColor;  // COLORREF order: red in the low byte
  LongBool hasBGColor;
  LongBool IsGrayAlpha;
  uint32_t BPP;
  uint8_t *ExifInfo;
  uint32_t ExifLen;
  uint8_t *Marker;
  uint32_t MarkerCount;
  LongBool HasJPEGQualityInfo;
  TJPEGQualityInfo JPEGQualityInfo;
};
using PICCImgInfo = TICCImgInfo *;

struct TICCInfo {
  uint8_t *Profile;
  uint32_t Len;
};
using PICCInfo = TICCInfo *;

// The console tool's smaller record: the first five fields with the same meanings.
struct TImgInfo {
  uint8_t *Mem;
  uint32_t Width;
  uint32_t Height;
  uint32_t Bpl;
  uint32_t Channels;
};
using PImgInfo = TImgInfo *;

// Row stride for 8-bit samples: a multiple of 128 with at least 64 spare bytes,
// never a multiple of 1024 so that successive rows do not share cache sets.
uint32_t GetAlignedBpl(uint32_t Width, uint32_t Channels);
// The same for 16-bit and 14-bit samples.
uint32_t GetAlignedBpl16(uint32_t Width, uint32_t Channels);

// Rows of memory behind an image of the given height (rounded up to 4).
constexpr uint64_t AllocRows(uint32_t Height) { return (uint64_t(Height) + 3) & ~uint64_t(3); }

// Page allocator: page-aligned, zero-filled blocks. Raises EOutOfMemory.
void *PageAlloc(size_t Size);
void PageFree(void *P);

// A pixel block for Bpl x Height (height rounded up to 4 rows). Raises EOutOfMemory.
uint8_t *AllocPixelBlock(uint32_t Bpl, uint32_t Height);

// Large released blocks are kept for a while (up to 8 of them and 512 MiB)
// so that the next file's image of the same size finds its pages mapped and
// cleared already; a batch would otherwise have the kernel clear every image
// block anew. Blocks of the reuse functions hold undefined bytes: only code
// that writes every pixel row takes them.
void *PageAllocReused(size_t Size);
uint8_t *AllocPixelBlockReused(uint32_t Bpl, uint32_t Height);
// Bytes usable behind a page block.
size_t PageBlockCapacity(const void *P);
// The largest kept block, taken out of the keeping (null when none); the
// caller uses it or returns it with PageFree.
void *TakeSpareBlock();
// Returns every kept block to the system.
void ReleasePageCache();

// Page blocks alive now, kept ones included: how many and their bytes with
// the header page. Leak checkers do not see mappings, so tests and
// benchmarks watch these numbers instead; in a sanitizer build the blocks
// come from the ordinary heap, where the leak checker sees them as well.
struct TPageBlockCount {
  size_t Blocks = 0;
  size_t Bytes = 0;
};
TPageBlockCount LivePageBlocks();
// The codec library carries its own copy of this allocator, with the same
// block layout; a block it hands over is counted here from then on.
void AdoptPageBlock(void *P);

// Releases Mem, and the profile when WithProfile and the record owns it, then zeroes the record.
// The Exif and marker blocks are left alone (ReleaseICCImgInfo releases them too).
void FreeICCImgInfo(TICCImgInfo &Img, bool WithProfile);
// Releases everything the record points to: Mem, the profile when WithProfile
// and the record owns it, the Exif block and the marker block; then zeroes it.
void ReleaseICCImgInfo(TICCImgInfo &Img, bool WithProfile = true);
// New pixel block with the source's pixels; the profile pointer is shared only when ShareProfile.
void CopyICCImgInfo(const TICCImgInfo &Src, TICCImgInfo &Dst, bool ShareProfile);

// Aligned blocks from the page allocator (Exif, markers). The whole block's
// address is stored just below the returned pointer.
void *AlignedAlloc(size_t Size, size_t Alignment);
void AlignedFree(void *P);
// The same layout over the ordinary heap, for short-lived work buffers.
void *HeapAlignedAlloc(size_t Size, size_t Alignment);
void HeapAlignedFree(void *P);

// The one owner of an image record: whoever fills a record fills one of
// these, and everything the record points to goes when it goes. The record
// itself keeps its plain layout, which the codec library and the stored
// layouts rely on; Get() hands it to code that works on TICCImgInfo.
class TICCImgOwner {
public:
  // OwnsProfile false: the profile belongs to another record (a copy made
  // with a shared profile) and stays when this one is released.
  explicit TICCImgOwner(bool OwnsProfile = true) : FOwnsProfile(OwnsProfile) {}
  ~TICCImgOwner() { Release(); }
  TICCImgOwner(const TICCImgOwner &) = delete;
  TICCImgOwner &operator=(const TICCImgOwner &) = delete;
  TICCImgOwner(TICCImgOwner &&Other) noexcept : FImg(Other.Detach()), FOwnsProfile(Other.FOwnsProfile) {}
  TICCImgOwner &operator=(TICCImgOwner &&Other) noexcept {
    if (this != &Other) {
      Release();
      FOwnsProfile = Other.FOwnsProfile;
      FImg = Other.Detach();
    }
    return *this;
  }

  TICCImgInfo &Get() { return FImg; }
  const TICCImgInfo &Get() const { return FImg; }
  TICCImgInfo &operator*() { return FImg; }
  const TICCImgInfo &operator*() const { return FImg; }
  TICCImgInfo *operator->() { return &FImg; }
  const TICCImgInfo *operator->() const { return &FImg; }

  // Releases everything the record points to; the record is empty afterwards.
  void Release() { ReleaseICCImgInfo(FImg, FOwnsProfile); }
  // Hands the record and what it points to over to the caller.
  TICCImgInfo Detach() {
    const TICCImgInfo img = FImg;
    FImg = TICCImgInfo{};
    return img;
  }

private:
  TICCImgInfo FImg{};
  bool FOwnsProfile;
};

// Exchanges the low and third byte: COLORREF order <-> B,G,R sample order.
constexpr uint32_t SwapRedBlue(uint32_t Color) {
  return (Color & 0xFF00FF00u) | ((Color & 0xFFu) << 16) | ((Color >> 16) & 0xFFu);
}

// Row y of memory (0 = bottom row of the picture).
inline uint8_t *ScanLine(const TICCImgInfo &Img, uint32_t MemRow) {
  return Img.Mem + size_t(MemRow) * Img.Bpl;
}
// Row y of the picture, counted from the top.
inline uint8_t *PictureRow(const TICCImgInfo &Img, uint32_t Y) {
  return Img.Mem + size_t(Img.Height - 1 - Y) * Img.Bpl;
}
