// Allocation, sizing, copying and release of image records.
#include "core/ImgInfo.h"

#include "core/Errors.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

// Under AddressSanitizer page blocks come from the ordinary heap, so that the
// leak checker sees a block nobody released; mappings are invisible to it.
#if defined(__SANITIZE_ADDRESS__)
#define TESSIVO_HEAP_PAGE_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSIVO_HEAP_PAGE_BLOCKS 1
#endif
#endif

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

// The live blocks one copy of this allocator answers for (the program's,
// or the codec library's own copy).
struct TLedger {
  std::atomic<size_t> Blocks{0};
  std::atomic<size_t> Bytes{0};
  void Add(size_t Len) {
    Blocks.fetch_add(1, std::memory_order_relaxed);
    Bytes.fetch_add(Len, std::memory_order_relaxed);
  }
  void Remove(size_t Len) {
    Blocks.fetch_sub(1, std::memory_order_relaxed);
    Bytes.fetch_sub(Len, std::memory_order_relaxed);
  }
};
constinit TLedger OwnLedger;

// munmap needs the length, so each page block starts with one page that holds
// the mapping size; the caller sees the page after it. The header also names
// the ledger that counts the block, since a block made by the codec library's
// copy of the allocator may be released by the program's and the other way round.
struct PageHeader {
  size_t MapLen;
  TLedger *Ledger;
};

PageHeader *HeaderOf(const void *P) {
  return reinterpret_cast<PageHeader *>(static_cast<uint8_t *>(const_cast<void *>(P)) - PageSize());
}

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

namespace {

// Large blocks get the huge-page advice, which makes their first touch cheaper
// on most machines. Blocks for the reuse path go without it: they are touched
// once per batch, and under virtualisation a fresh huge page can cost more
// than its 512 small ones. (Pre-populating them was tried too: the mapping
// call then holds the address-space lock so long that the other workers stall.)
// Blocks large enough to be kept for reuse are mapped in whole steps of this
// size. A photo and its quarter turn pad their rows differently, so their
// blocks differ by a few hundred KiB; in whole steps they are the same size
// and either serves the other, where otherwise the turn of the next file
// finds only the smaller decoded block kept and maps a fresh one. The pages
// past the image are never touched, so the step costs address space only.
constexpr size_t KeptBlockStep = size_t(4) << 20;

void *MapBlock(size_t Size, bool HugePages) {
  const size_t page = PageSize();
  if (Size > SIZE_MAX - 2 * KeptBlockStep) throw EOutOfMemory();
  size_t len = (Size + page - 1) / page * page + page;
  if (len >= KeptBlockStep) len = (len + KeptBlockStep - 1) / KeptBlockStep * KeptBlockStep;
#ifdef TESSIVO_HEAP_PAGE_BLOCKS
  (void)HugePages;
  // The sanitizer's allocator aborts on absurd sizes instead of failing.
  if (len > (size_t(1) << 39)) throw EOutOfMemory();
  void *p = std::aligned_alloc(page, len);
  if (!p) throw EOutOfMemory();
  std::memset(p, 0, len);
#else
  void *p = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw EOutOfMemory();
#ifdef MADV_HUGEPAGE
  if (HugePages && len >= (size_t(2) << 20)) madvise(p, len, MADV_HUGEPAGE);
#endif
#endif
  auto *header = static_cast<PageHeader *>(p);
  header->MapLen = len;
  header->Ledger = &OwnLedger;
  OwnLedger.Add(len);
  return static_cast<uint8_t *>(p) + page;
}

// Moves the block's count onto this copy's ledger.
void Adopt(void *P) {
  PageHeader *header = HeaderOf(P);
  if (header->Ledger == &OwnLedger) return;
  if (header->Ledger) header->Ledger->Remove(header->MapLen);
  header->Ledger = &OwnLedger;
  OwnLedger.Add(header->MapLen);
}

}  // namespace

void *PageAlloc(size_t Size) { return MapBlock(Size, true); }

namespace {

// Released blocks kept for reuse. Only large blocks are kept (small ones cost
// little to map anew); the oldest leaves first when the keeping is full.
class TPageCache {
public:
  static constexpr size_t MinBlock = KeptBlockStep;
  static constexpr size_t MaxTotal = size_t(512) << 20;
  static constexpr int MaxBlocks = 8;

  // False when the block is not kept (the caller unmaps it).
  bool Put(void *P, size_t Capacity) {
    if (Capacity < MinBlock || Capacity > MaxTotal) return false;
    void *evicted[MaxBlocks];
    int evictedCount = 0;
    {
      std::lock_guard<std::mutex> lock(FLock);
      while (FCount > 0 && (FCount == MaxBlocks || FTotal + Capacity > MaxTotal)) {
        evicted[evictedCount++] = FBlocks[0].P;
        FTotal -= FBlocks[0].Capacity;
        RemoveAt(0);
      }
      FBlocks[FCount++] = {P, Capacity};
      FTotal += Capacity;
    }
    for (int i = 0; i < evictedCount; ++i) Unmap(evicted[i]);
    return true;
  }

  // The smallest kept block of at least Size bytes that does not waste more
  // than about half of itself; null when none fits.
  void *Take(size_t Size) {
    std::lock_guard<std::mutex> lock(FLock);
    int best = -1;
    for (int i = 0; i < FCount; ++i) {
      const size_t c = FBlocks[i].Capacity;
      if (c >= Size && c / 2 <= Size + MinBlock && (best < 0 || c < FBlocks[best].Capacity)) best = i;
    }
    return best < 0 ? nullptr : TakeAt(best);
  }

  void *TakeLargest() {
    std::lock_guard<std::mutex> lock(FLock);
    int best = -1;
    for (int i = 0; i < FCount; ++i)
      if (best < 0 || FBlocks[i].Capacity > FBlocks[best].Capacity) best = i;
    return best < 0 ? nullptr : TakeAt(best);
  }

  void Clear() {
    for (;;) {
      void *p = TakeLargest();
      if (!p) return;
      Unmap(p);
    }
  }

  static void Unmap(void *P) {
    PageHeader *header = HeaderOf(P);
    const size_t len = header->MapLen;
    if (header->Ledger) header->Ledger->Remove(len);
#ifdef TESSIVO_HEAP_PAGE_BLOCKS
    std::free(header);
#else
    munmap(header, len);
#endif
  }

private:
  struct TKept {
    void *P;
    size_t Capacity;
  };
  void RemoveAt(int I) {
    for (int j = I + 1; j < FCount; ++j) FBlocks[j - 1] = FBlocks[j];
    --FCount;
  }
  void *TakeAt(int I) {
    void *p = FBlocks[I].P;
    FTotal -= FBlocks[I].Capacity;
    RemoveAt(I);
    return p;
  }

  std::mutex FLock;
  TKept FBlocks[MaxBlocks]{};
  int FCount = 0;
  size_t FTotal = 0;
};

// Never destroyed: blocks may still be released while the program ends.
TPageCache &PageCache() {
  static TPageCache *cache = new TPageCache;
  return *cache;
}

}  // namespace

size_t PageBlockCapacity(const void *P) {
  if (!P) return 0;
  const auto *base = static_cast<const uint8_t *>(P) - PageSize();
  return reinterpret_cast<const PageHeader *>(base)->MapLen - PageSize();
}

void PageFree(void *P) {
  if (!P) return;
  // A kept block is counted by the copy that keeps it.
  Adopt(P);
  if (PageCache().Put(P, PageBlockCapacity(P))) return;
  TPageCache::Unmap(P);
}

void *PageAllocReused(size_t Size) {
  if (void *p = PageCache().Take(Size)) return p;
  return MapBlock(Size, false);
}

void *TakeSpareBlock() { return PageCache().TakeLargest(); }

void ReleasePageCache() { PageCache().Clear(); }

TPageBlockCount LivePageBlocks() {
  return {OwnLedger.Blocks.load(std::memory_order_relaxed), OwnLedger.Bytes.load(std::memory_order_relaxed)};
}

void AdoptPageBlock(void *P) {
  if (P) Adopt(P);
}

uint8_t *AllocPixelBlock(uint32_t Bpl, uint32_t Height) {
  const uint64_t size = uint64_t(Bpl) * AllocRows(Height);
  return static_cast<uint8_t *>(PageAlloc(size_t(size ? size : Bpl)));
}

uint8_t *AllocPixelBlockReused(uint32_t Bpl, uint32_t Height) {
  const uint64_t size = uint64_t(Bpl) * AllocRows(Height);
  return static_cast<uint8_t *>(PageAllocReused(size_t(size ? size : Bpl)));
}

void FreeICCImgInfo(TICCImgInfo &Img, bool WithProfile) {
  if (Img.Mem) PageFree(Img.Mem);
  if (WithProfile && (Img.ProfileType == PROFILE_EMBEDDED || Img.ProfileType == PROFILE_FROM_EXIF) &&
      Img.ICCProfile)
    PageFree(Img.ICCProfile);
  std::memset(&Img, 0, sizeof(Img));
}

void ReleaseICCImgInfo(TICCImgInfo &Img, bool WithProfile) {
  AlignedFree(Img.ExifInfo);
  AlignedFree(Img.Marker);
  Img.ExifInfo = nullptr;
  Img.Marker = nullptr;
  FreeICCImgInfo(Img, WithProfile);
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
