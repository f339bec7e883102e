// GIF decoding over giflib: the first frame on the logical screen, with its
// transparent colour as alpha. Records are walked one by one so that only the
// first frame is ever decoded.
#include "pixio/PixioInternal.h"

#include <gif_lib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace pixio {

namespace {

// A file that ends inside its image block is read on as if the block's
// terminator and the trailer followed: a frame whose pixels are all there
// decodes, one whose pixels are missing fails on them.
constexpr uint8_t Ending[2] = {0x00, 0x3B};

struct GifSource {
  std::span<const uint8_t> Data;
  size_t Pos = 0;
  size_t EndingRead = 0;  // bytes of Ending handed out after the data
};

int GifRead(GifFileType *gif, GifByteType *buf, int len) {
  auto *src = static_cast<GifSource *>(gif->UserData);
  size_t want = size_t(std::max(len, 0));
  const size_t n = std::min<size_t>(want, src->Data.size() - src->Pos);
  std::memcpy(buf, src->Data.data() + src->Pos, n);
  src->Pos += n;
  size_t extra = 0;
  while (n + extra < want && src->EndingRead < sizeof Ending) buf[n + extra++] = Ending[src->EndingRead++];
  return int(n + extra);
}

struct GifCloser {
  void operator()(GifFileType *g) const {
    int err = 0;
    DGifCloseFile(g, &err);
  }
};

[[noreturn]] void Fail(const GifSource &Src, int Code) {
  if (Src.EndingRead) throw DecodeError("the image data is cut short (the file is truncated)");
  const char *msg = GifErrorString(Code);
  throw DecodeError(msg ? msg : "damaged GIF file");
}

}  // namespace

void DecodeGif(TPixioDecode &Info, std::span<const uint8_t> Data) {
  GifSource src{Data, 0};
  int err = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&src, GifRead, &err));
  if (!gif) Fail(src, err);
  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) Fail(src, gif->Error);
    if (type == TERMINATE_RECORD_TYPE) throw DecodeError("GIF file holds no image");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType *ext = nullptr;
      if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) Fail(src, gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext) {
        if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) Fail(src, gif->Error);
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) Fail(src, gif->Error);
    break;
  }
  const GifImageDesc &desc = gif->Image;
  if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0) throw DecodeError("bad frame size");
  const ColorMapObject *map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  std::vector<GifColorType> grays;
  ColorMapObject grayMap{};
  if (!map || !map->Colors || map->ColorCount <= 0) {
    // Without any colour table an index is shown as that gray level, as the
    // other readers show it (black or next to black for small indexes).
    const int n = 256;
    grays.resize(size_t(n));
    for (int i = 0; i < n; ++i) grays[size_t(i)] = GifColorType{GifByteType(i), GifByteType(i), GifByteType(i)};
    grayMap.ColorCount = n;
    grayMap.Colors = grays.data();
    map = &grayMap;
    ReportMessage("GIF", "the file has no colour table; its indexes are shown as gray levels");
  }
  // The canvas is the logical screen, grown when a broken file puts the frame outside it.
  const uint32_t cw = std::max<uint32_t>(uint32_t(std::max(gif->SWidth, 0)), uint32_t(desc.Left + desc.Width));
  const uint32_t chh = std::max<uint32_t>(uint32_t(std::max(gif->SHeight, 0)), uint32_t(desc.Top + desc.Height));
  const bool covers = desc.Left == 0 && desc.Top == 0 && uint32_t(desc.Width) == cw && uint32_t(desc.Height) == chh;
  const bool alpha = transparent >= 0 || !covers;
  const uint32_t ch = alpha ? 4 : 3;
  AllocImage(Info, cw, chh, ch, 8);  // zero-filled: transparent where the frame does not reach

  std::vector<GifPixelType> line(size_t(desc.Width));
  auto putRow = [&](uint32_t y) {
    uint8_t *d = Row(Info, uint32_t(desc.Top) + y, true) + size_t(desc.Left) * ch;
    for (int x = 0; x < desc.Width; ++x, d += ch) {
      const int idx = line[size_t(x)];
      if (alpha && idx == transparent) continue;
      const GifColorType c = idx < map->ColorCount ? map->Colors[idx] : GifColorType{0, 0, 0};
      d[0] = c.Blue, d[1] = c.Green, d[2] = c.Red;
      if (alpha) d[3] = 255;
    }
  };
  const uint32_t h = uint32_t(desc.Height);
  auto readLine = [&] {
    if (DGifGetLine(gif.get(), line.data(), desc.Width) != GIF_OK) Fail(src, gif->Error);
  };
  if (desc.Interlace) {
    static const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (uint32_t y = start[pass]; y < h; y += step[pass]) {
        readLine();
        putRow(y);
      }
  } else {
    for (uint32_t y = 0; y < h; ++y) {
      readLine();
      putRow(y);
    }
  }
  if (src.EndingRead)
    ReportMessage("GIF", "the file ends inside its image block; every pixel of the first frame was there");
}

}  // namespace pixio
