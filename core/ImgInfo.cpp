// Allocation, sizing, copying and release of image records.
#include "ImgInfo.h"

#include "Errors.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

uint32_t AlignStride(uint64_t Bytes) {
  uint64_t bpl = (Bytes + 64 + 127) & ~uint64_t(127);
  if (bpl % 1024 == 0) bpl += 128;
  if (bpl > 0xFFFFFFFFull) throw EOutOfMemory("画像の幅が大きすぎます");
  return uint32_t(bpl);
}

size_t PageSize() {
  static const size_t size = size_t(sysconf(_SC_PAGESIZE));
  return size;
}

// munmap needs the length, so each page block starts with one page that holds
// the mapping size; the caller sees the page after it.
struct PageHeader {
  size_t MapLen;
};

// Stored just below every aligned pointer: the address of the whole block.
struct AlignedHeader {
  void *Block;
};

void *AlignUp(void *P, size_t Alignment) {
  auto v = reinterpret_cast<uintptr_t>(P);
  v = (v + Alignment - 1) / Alignment * Alignment;
  return reinterpret_cast<void *>(v);
}

size_t NormalAlignment(size_t Alignment) {
  return Alignment < sizeof(AlignedHeader) ? sizeof(AlignedHeader) : Alignment;
}

}  // namespace

uint32_t GetAlignedBpl(uint32_t Width, uint32_t Channels) {
  return AlignStride(uint64_t(Width) * Channels);
}

uint32_t GetAlignedBpl16(uint32_t Width, uint32_t Channels) {
  return AlignStride(uint64_t(Width) * Channels * 2);
}

void *PageAlloc(size_t Size) {
  const size_t page = PageSize();
  if (Size > SIZE_MAX - 2 * page) throw EOutOfMemory();
  const size_t len = (Size + page - 1) / page * page + page;
  void *p = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw EOutOfMemory();
#ifdef MADV_HUGEPAGE
  // Large pixel blocks are filled right after allocation; with huge pages the
  // first touch costs a fraction of the 4 KiB page faults (advice only).
  if (len >= (size_t(2) << 20)) madvise(p, len, MADV_HUGEPAGE);
#endif
  static_cast<PageHeader *>(p)->MapLen = len;
  return static_cast<uint8_t *>(p) + page;
}

void PageFree(void *P) {
  if (!P) return;
  auto *base = static_cast<uint8_t *>(P) - PageSize();
  munmap(base, reinterpret_cast<PageHeader *>(base)->MapLen);
}

uint8_t *AllocPixelBlock(uint32_t Bpl, uint32_t Height) {
  const uint64_t size = uint64_t(Bpl) * AllocRows(Height);
  return static_cast<uint8_t *>(PageAlloc(size_t(size ? size : Bpl)));
}

void FreeICCImgInfo(TICCImgInfo &Img, bool WithProfile) {
  if (Img.Mem) PageFree(Img.Mem);
  if (WithProfile && (Img.ProfileType == PROFILE_EMBEDDED || Img.ProfileType == PROFILE_FROM_EXIF) &&
      Img.ICCProfile)
    PageFree(Img.ICCProfile);
  std::memset(&Img, 0, sizeof(Img));
}

void CopyICCImgInfo(const TICCImgInfo &Src, TICCImgInfo &Dst, bool ShareProfile) {
  std::memset(&Dst, 0, sizeof(Dst));
  Dst.Width = Src.Width;
  Dst.Height = Src.Height;
  Dst.Bpl = Src.Bpl;
  Dst.Channels = Src.Channels;
  Dst.Mem = AllocPixelBlock(Src.Bpl, Src.Height);
  Dst.BPP = Src.BPP;
  if (ShareProfile) {
    Dst.ICCProfile = Src.ICCProfile;
    Dst.ProfileLen = Src.ProfileLen;
    Dst.ProfileType = Src.ProfileType;
  }
  Dst.PixelFormat = Src.PixelFormat;
  Dst.BGColor = Src.BGColor;
  Dst.hasBGColor = Src.hasBGColor;
  Dst.IsGrayAlpha = Src.IsGrayAlpha;
  if (Src.Mem) std::memcpy(Dst.Mem, Src.Mem, size_t(Src.Bpl) * Src.Height);
}

void *AlignedAlloc(size_t Size, size_t Alignment) {
  Alignment = NormalAlignment(Alignment);
  if (Size > SIZE_MAX / 2) throw EOutOfMemory();
  auto *block = static_cast<uint8_t *>(PageAlloc(Size + Alignment + sizeof(AlignedHeader)));
  void *p = AlignUp(block + sizeof(AlignedHeader), Alignment);
  (static_cast<AlignedHeader *>(p) - 1)->Block = block;
  return p;
}

void AlignedFree(void *P) {
  if (P) PageFree((static_cast<AlignedHeader *>(P) - 1)->Block);
}

void *HeapAlignedAlloc(size_t Size, size_t Alignment) {
  Alignment = NormalAlignment(Alignment);
  if (Size > SIZE_MAX / 2) throw EOutOfMemory();
  auto *block = static_cast<uint8_t *>(std::malloc(Size + Alignment + sizeof(AlignedHeader)));
  if (!block) throw EOutOfMemory();
  void *p = AlignUp(block + sizeof(AlignedHeader), Alignment);
  (static_cast<AlignedHeader *>(p) - 1)->Block = block;
  return p;
}

void HeapAlignedFree(void *P) {
  if (P) std::free((static_cast<AlignedHeader *>(P) - 1)->Block);
}
