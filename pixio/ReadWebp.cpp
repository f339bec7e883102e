// WebP decoding over libwebp: still images straight into the output rows,
// animations as their first composed frame; the ICC chunk is attached.
#include "pixio/PixioInternal.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <memory>

namespace pixio {

namespace {

struct DemuxCloser {
  void operator()(WebPDemuxer *d) const { WebPDemuxDelete(d); }
};
struct AnimCloser {
  void operator()(WebPAnimDecoder *d) const { WebPAnimDecoderDelete(d); }
};

}  // namespace

void DecodeWebP(TPixioDecode &Info, std::span<const uint8_t> Data) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(Data.data(), Data.size(), &features) != VP8_STATUS_OK)
    throw DecodeError("not a readable WebP file");
  const WebPData whole{Data.data(), Data.size()};
  if (features.has_animation) {
    WebPAnimDecoderOptions opt;
    if (!WebPAnimDecoderOptionsInit(&opt)) throw DecodeError("libwebp version mismatch");
    opt.color_mode = MODE_BGRA;
    opt.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, AnimCloser> dec(WebPAnimDecoderNew(&whole, &opt));
    if (!dec) throw DecodeError("damaged WebP animation");
    WebPAnimInfo ai;
    if (!WebPAnimDecoderGetInfo(dec.get(), &ai)) throw DecodeError("damaged WebP animation");
    uint8_t *frame = nullptr;
    int ts = 0;
    if (!WebPAnimDecoderGetNext(dec.get(), &frame, &ts) || !frame) throw DecodeError("damaged WebP frame");
    AllocImage(Info, ai.canvas_width, ai.canvas_height, 4, 8);
    for (uint32_t y = 0; y < Info.Height; ++y)
      std::memcpy(Row(Info, y, true), frame + size_t(y) * ai.canvas_width * 4, size_t(ai.canvas_width) * 4);
  } else {
    const uint32_t ch = features.has_alpha ? 4 : 3;
    AllocImage(Info, uint32_t(features.width), uint32_t(features.height), ch, 8);
    const size_t size = size_t(Info.Bpl) * Info.Height;
    const uint8_t *ok = ch == 4 ? WebPDecodeBGRAInto(Data.data(), Data.size(), Info.Mem, size, int(Info.Bpl))
                                : WebPDecodeBGRInto(Data.data(), Data.size(), Info.Mem, size, int(Info.Bpl));
    if (!ok) throw DecodeError("damaged WebP image data");
  }
  std::unique_ptr<WebPDemuxer, DemuxCloser> demux(WebPDemux(&whole));
  WebPChunkIterator it;
  if (demux && WebPDemuxGetChunk(demux.get(), "ICCP", 1, &it)) {
    AttachProfile(Info, it.chunk.bytes, it.chunk.size);
    WebPDemuxReleaseChunkIterator(&it);
  }
}

}  // namespace pixio
