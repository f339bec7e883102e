#include "core/Errors.h"
#include "core/ImgInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(ImgInfo, StrideRule) {
  struct Case {
    uint32_t w, ch;
    bool wide;
    uint32_t bpl;
  };
  const Case cases[] = {
      {1, 3, false, 128},    {21, 3, false, 128}, {22, 3, false, 256},
      {320, 3, false, 1152}, {320, 3, true, 2176}, {0, 3, false, 128},
      {1000, 1, false, 1152},  // 1064 rounds to 1152
      {480, 4, false, 2176},   // 1920 + 64 rounds up to 2048, a multiple of 1024
  };
  for (const auto &c : cases) {
    const uint32_t got = c.wide ? GetAlignedBpl16(c.w, c.ch) : GetAlignedBpl(c.w, c.ch);
    EXPECT_EQ(got, c.bpl) << c.w << "x" << c.ch << (c.wide ? " (16)" : "");
  }
  // Property over many widths: aligned, enough spare bytes, never a multiple of 1024.
  for (uint32_t w = 1; w < 5000; w += 7)
    for (uint32_t ch = 1; ch <= 4; ++ch) {
      const uint32_t b = GetAlignedBpl(w, ch), n = w * ch;
      EXPECT_EQ(b % 128, 0u);
      EXPECT_GE(b - n, 64u);
      EXPECT_LE(b - n, 191u + 128u);
      EXPECT_NE(b % 1024, 0u);
    }
}

TEST(ImgInfo, PixelBlockIsAlignedZeroedAndCoversRoundedHeight) {
  const uint32_t bpl = GetAlignedBpl(10, 3);
  uint8_t *p = AllocPixelBlock(bpl, 5);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
  for (uint32_t i = 0; i < bpl * 8; ++i) ASSERT_EQ(p[i], 0) << i;
  std::memset(p, 0xAB, bpl * 8);  // rows 6 to 8 exist (ASan would flag otherwise)
  PageFree(p);
  EXPECT_EQ(AllocRows(5), 8u);
  EXPECT_EQ(AllocRows(4), 4u);
  EXPECT_EQ(AllocRows(0), 0u);
}

TICCImgInfo MakeImage(uint32_t w, uint32_t h, uint32_t ch) {
  TICCImgInfo img{};
  img.Width = w;
  img.Height = h;
  img.Channels = ch;
  img.Bpl = GetAlignedBpl(w, ch);
  img.BPP = 8;
  img.PixelFormat = ch == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
  img.Mem = AllocPixelBlock(img.Bpl, h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w * ch; ++x) ScanLine(img, y)[x] = uint8_t(x * 7 + y);
  return img;
}

TEST(ImgInfo, FreeZeroesAndRespectsProfileOwnership) {
  TICCImgInfo empty{};
  empty.Width = 3;
  empty.ProfileType = PROFILE_EMBEDDED;  // no profile pointer: nothing to release
  FreeICCImgInfo(empty, true);
  EXPECT_EQ(empty.Width, 0u);
  EXPECT_EQ(empty.ProfileType, 0u);

  auto *profile = static_cast<uint8_t *>(PageAlloc(100));
  profile[0] = 42;
  TICCImgInfo img = MakeImage(4, 4, 3);
  img.ICCProfile = profile;
  img.ProfileLen = 100;
  img.ProfileType = PROFILE_EMBEDDED;
  FreeICCImgInfo(img, false);  // working copy: the profile must survive
  EXPECT_EQ(img.Mem, nullptr);
  EXPECT_EQ(img.PixelFormat, 0u);
  EXPECT_EQ(profile[0], 42);

  // A built-in profile type never owns its pointer, even with WithProfile.
  TICCImgInfo builtin = MakeImage(2, 2, 3);
  builtin.ICCProfile = profile;
  builtin.ProfileType = PROFILE_BUILTIN_SRGB;
  FreeICCImgInfo(builtin, true);
  EXPECT_EQ(profile[0], 42);

  TICCImgInfo owner = MakeImage(2, 2, 3);
  owner.ICCProfile = profile;
  owner.ProfileType = PROFILE_FROM_EXIF;
  FreeICCImgInfo(owner, true);  // releases the profile (ASan reports a leak otherwise)
}

TEST(ImgInfo, CopySharesProfileOnlyWhenAsked) {
  auto *profile = static_cast<uint8_t *>(PageAlloc(16));
  TICCImgInfo src = MakeImage(7, 5, 4);
  src.ICCProfile = profile;
  src.ProfileLen = 16;
  src.ProfileType = PROFILE_EMBEDDED;
  src.BGColor = 0x123456;
  src.hasBGColor = LongTrue;
  src.IsGrayAlpha = LongTrue;
  src.ExifInfo = reinterpret_cast<uint8_t *>(&src);  // must not be copied
  src.ExifLen = 8;
  src.HasJPEGQualityInfo = LongTrue;

  TICCImgInfo plain;
  CopyICCImgInfo(src, plain, false);
  EXPECT_EQ(plain.ProfileType, 0u);
  EXPECT_EQ(plain.ICCProfile, nullptr);
  EXPECT_EQ(plain.ExifInfo, nullptr);
  EXPECT_EQ(plain.HasJPEGQualityInfo, 0);
  EXPECT_NE(plain.Mem, src.Mem);
  EXPECT_EQ(std::memcmp(plain.Mem, src.Mem, size_t(src.Bpl) * src.Height), 0);
  EXPECT_EQ(plain.BGColor, 0x123456u);
  EXPECT_EQ(plain.hasBGColor, LongTrue);
  EXPECT_EQ(plain.IsGrayAlpha, LongTrue);
  EXPECT_EQ(plain.Bpl, src.Bpl);
  EXPECT_EQ(plain.PixelFormat, PIXFMT_BGRA);

  TICCImgInfo shared;
  CopyICCImgInfo(src, shared, true);
  EXPECT_EQ(shared.ICCProfile, profile);
  EXPECT_EQ(shared.ProfileType, PROFILE_EMBEDDED);
  FreeICCImgInfo(shared, false);
  FreeICCImgInfo(plain, true);
  EXPECT_EQ(profile[0], 0);  // still mapped
  src.ExifInfo = nullptr;
  FreeICCImgInfo(src, true);
}

TEST(ImgInfo, AlignedBlocksHonourAlignmentAndAreWritable) {
  for (size_t align : {0, 1, 4, 16, 64, 4096}) {
    for (size_t size : {1, 100, 131072}) {
      auto *a = static_cast<uint8_t *>(AlignedAlloc(size, align));
      auto *h = static_cast<uint8_t *>(HeapAlignedAlloc(size, align));
      const size_t effective = align < 8 ? 8 : align;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % effective, 0u);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(h) % effective, 0u);
      std::memset(a, 1, size);
      std::memset(h, 1, size);
      AlignedFree(a);
      HeapAlignedFree(h);
    }
  }
  AlignedFree(nullptr);
  HeapAlignedFree(nullptr);
}

TEST(ImgInfo, ReleasedLargeBlocksAreReusedButNeverHandedOutAsZeroed) {
  ReleasePageCache();
  const size_t big = size_t(16) << 20;
  auto *a = static_cast<uint8_t *>(PageAllocReused(big));
  ASSERT_GE(PageBlockCapacity(a), big);
  std::memset(a, 0x5A, big);
  PageFree(a);
  // A zero-filled allocation of the same size never gets the kept block.
  auto *z = static_cast<uint8_t *>(PageAlloc(big));
  EXPECT_NE(z, a);
  for (size_t i = 0; i < big; i += 4093) ASSERT_EQ(z[i], 0) << i;
  // A request far smaller than the kept block is not served by it.
  void *small = PageAllocReused(size_t(1) << 20);
  EXPECT_NE(small, a);
  PageFree(small);
  // The same size gets the kept block back, bytes and all.
  auto *b = static_cast<uint8_t *>(PageAllocReused(big - 4096));
  EXPECT_EQ(b, a);
  EXPECT_EQ(b[big - 1], 0x5A);
  PageFree(b);
  PageFree(z);
  // The largest kept block is the spare; the keeping is bounded.
  EXPECT_EQ(TakeSpareBlock(), static_cast<void *>(a));
  PageFree(a);
  ReleasePageCache();
  EXPECT_EQ(TakeSpareBlock(), nullptr);
  std::vector<void *> blocks;
  for (int i = 0; i < 12; ++i) blocks.push_back(PageAllocReused(size_t(5 + i) << 20));
  for (void *p : blocks) PageFree(p);
  std::vector<void *> kept;
  while (void *p = TakeSpareBlock()) {
    if (!kept.empty()) EXPECT_LE(PageBlockCapacity(p), PageBlockCapacity(kept.back()));  // largest first
    kept.push_back(p);
    ASSERT_LE(kept.size(), 8u);
  }
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(PageBlockCapacity(kept.front()), PageBlockCapacity(blocks.back()));  // the oldest left first
  for (void *p : kept) PageFree(p);
  ReleasePageCache();
}

// A photo decoded upright and the same photo turned a quarter pad their rows
// differently, so their blocks differ by a few hundred KiB. The block kept
// from one must serve the other, or every turn of a batch maps and clears a
// fresh block while the decoded one of the previous file sits unused.
TEST(ImgInfo, APhotoBlockAndItsQuarterTurnServeEachOther) {
  struct Case {
    const char *Name;
    uint32_t Width, Height, Channels;
  };
  const Case cases[] = {
      {"6000x4000 RGB", 6000, 4000, 3},
      {"4032x3024 RGB", 4032, 3024, 3},
      {"8192x5464 RGB", 8192, 5464, 3},
  };
  for (const Case &c : cases)
    for (const bool turnedFirst : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (turnedFirst ? ", turned first" : ", upright first"));
      const uint32_t w = turnedFirst ? c.Height : c.Width, h = turnedFirst ? c.Width : c.Height;
      ReleasePageCache();
      uint8_t *first = AllocPixelBlockReused(GetAlignedBpl(w, c.Channels), h);
      PageFree(first);
      uint8_t *second = AllocPixelBlockReused(GetAlignedBpl(h, c.Channels), w);
      EXPECT_EQ(second, first);
      PageFree(second);
    }
  ReleasePageCache();
}

// The owner releases what the record points to: pixels, Exif, markers and the
// profile when the record owns it; the live-block count is the witness.
TEST(ImgInfo, OwnerReleasesEverythingTheRecordPointsTo) {
  struct Case {
    const char *Name;
    uint32_t ProfileType;
    bool OwnsProfile;
    bool ProfileStays;
  };
  for (const Case &c : {Case{"embedded profile", PROFILE_EMBEDDED, true, false},
                        Case{"profile made from Exif", PROFILE_FROM_EXIF, true, false},
                        Case{"profile shared with another record", PROFILE_EMBEDDED, false, true},
                        Case{"profile the record does not own", PROFILE_WORKSPACE, true, true}}) {
    SCOPED_TRACE(c.Name);
    ReleasePageCache();
    const TPageBlockCount before = LivePageBlocks();
    auto *profile = static_cast<uint8_t *>(PageAlloc(600));
    {
      TICCImgOwner img(c.OwnsProfile);
      img->Width = img->Height = 8;
      img->Channels = 3;
      img->Bpl = GetAlignedBpl(8, 3);
      img->Mem = AllocPixelBlock(img->Bpl, 8);
      img->ICCProfile = profile;
      img->ProfileLen = 600;
      img->ProfileType = c.ProfileType;
      img->ExifInfo = static_cast<uint8_t *>(AlignedAlloc(EXIF_BLOCK_CAPACITY, 16));
      img->Marker = static_cast<uint8_t *>(AlignedAlloc(100, 16));
      EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks + 4);
      // A move hands everything over; the emptied owner releases nothing.
      TICCImgOwner moved(std::move(img));
      EXPECT_EQ(img->Mem, nullptr);
      EXPECT_NE(moved->ExifInfo, nullptr);
    }
    EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks + (c.ProfileStays ? 1 : 0));
    if (c.ProfileStays) PageFree(profile);
    EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks);
    EXPECT_EQ(LivePageBlocks().Bytes, before.Bytes);
  }
}

TEST(ImgInfo, LiveBlocksCountKeptBlocksUntilTheKeepingIsReleased) {
  ReleasePageCache();
  const TPageBlockCount before = LivePageBlocks();
  void *small = PageAlloc(10);
  void *big = PageAllocReused(size_t(8) << 20);
  EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks + 2);
  const size_t headers = 2 * size_t(sysconf(_SC_PAGESIZE));
  EXPECT_EQ(LivePageBlocks().Bytes, before.Bytes + PageBlockCapacity(small) + PageBlockCapacity(big) + headers);
  PageFree(small);
  PageFree(big);  // kept for the next image of its size
  EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks + 1);
  ReleasePageCache();
  EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks);
  EXPECT_EQ(LivePageBlocks().Bytes, before.Bytes);
  // Detaching hands the blocks to the caller, who releases them.
  TICCImgInfo detached;
  {
    TICCImgOwner img;
    img->Bpl = GetAlignedBpl(4, 1);
    img->Mem = AllocPixelBlock(img->Bpl, 4);
    detached = img.Detach();
  }
  EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks + 1);
  ReleaseICCImgInfo(detached);
  EXPECT_EQ(detached.Mem, nullptr);
  EXPECT_EQ(LivePageBlocks().Blocks, before.Blocks);
}

TEST(ImgInfo, OutOfMemoryIsRaised) {
  EXPECT_THROW(PageAlloc(size_t(1) << 62), EOutOfMemory);
  EXPECT_THROW(AlignedAlloc(size_t(1) << 62, 16), EOutOfMemory);
}

TEST(ImgInfo, SwapRedBlue) {
  EXPECT_EQ(SwapRedBlue(0x00112233u), 0x00332211u);
  EXPECT_EQ(SwapRedBlue(SwapRedBlue(0x00ABCDEFu)), 0x00ABCDEFu);
  // A COLORREF red (0x0000FF) becomes the bytes B=0, G=0, R=255 in memory order.
  const uint32_t v = SwapRedBlue(0x0000FFu);
  uint8_t bytes[4];
  std::memcpy(bytes, &v, 4);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[2], 255);
}

}  // namespace
