// The L* path of the tone effects.
#include "effects/ToneTable.h"

#include "color/ICCUtil.h"
#include "core/Errors.h"
#include "core/PixelConvert.h"
#include "core/RowBands.h"

#include <memory>

void ApplyLightnessTable(TICCImgInfo &Img, std::span<const int16_t> Table, TTransForm *Transform, TMultiThread *MT) {
  if (Table.size() < LUT14_ENTRIES) throw ETessivoError("ルックアップテーブルが短すぎます");
  std::unique_ptr<TTransForm> own;
  if (!Transform) {
    own = std::make_unique<TTransForm>();
    Transform = own.get();
  }
  if (Img.BPP == BPP_16) Convert16To14(Img);
  const bool grayAlpha = Img.IsGrayAlpha && Img.Channels == 4;
  const bool alpha = Img.Channels == 2 || Img.Channels == 4;
  TICCImgInfo a{};
  if (alpha) ExtractAlpha14(Img, a);
  // Every exit frees the kept alpha unless it went back into the image.
  struct TAlphaOwner {
    TICCImgInfo &A;
    ~TAlphaOwner() {
      if (A.Mem) PageFree(A.Mem);
    }
  } keep{a};
  if (grayAlpha) NarrowToGrayAlpha(Img);
  Convert14To16(Img);
  if (!Transform->InitToLab16(Img)) throw ETessivoError("Lab色空間への変換を作成できません");
  Transform->TransformToLab16(Img, MT);
  const uint32_t ch = Img.Channels;
  ForRowBands(MT, Img.Height, [&](uint32_t First, uint32_t Last) {
    for (uint32_t y = First; y < Last; ++y) {
      auto *row = reinterpret_cast<uint16_t *>(ScanLine(Img, y));
      for (uint32_t x = 0; x < Img.Width; ++x) {
        uint16_t &L = row[size_t(x) * ch];
        L = uint16_t(Table[std::min<uint32_t>((L + 2u) >> 2, FULL_SCALE_14)] * 4);
      }
    }
  });
  if (!Transform->InitFromLab16(Img)) throw ETessivoError("Lab色空間からの変換を作成できません");
  Transform->TransformFromLab16(Img, MT);
  if (grayAlpha) {
    ExpandGrayAlpha(Img);
    Img.PixelFormat = PIXFMT_BGRA;
    Img.IsGrayAlpha = LongTrue;
  }
  Convert16To14(Img);
  if (alpha) RestoreAlpha14(Img, a);
}
