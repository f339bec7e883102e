// The chain, its order and persistence, and down-scaled loading.
#include "effects/ChangeOrder.h"
#include "effects/ResizeOption.h"
#include "effects/Effect.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "effects/ResizeFilter.h"
#include "resample/tests/TestImage.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

// Two small real effects for exercising the chain: a mirror that acts only
// on images whose Exif orientation asks for a change (as the Exif rotation
// does), and an inversion of 8-bit samples. Both record the order they ran
// in through the image's first sample.
class TMirrorByOrientation : public TEffect {
public:
  TMirrorByOrientation() : TEffect("鏡像", 1u << 20, "MirrorTest", u'M') { FUse = true; }
  void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const override {
    if (Params.ExifOrientation < 2 || Params.ExifOrientation > 8) return;
    for (uint32_t y = 0; y < Img.Height; ++y) {
      uint8_t *row = ScanLine(Img, y);
      for (uint32_t x = 0; x < Img.Width / 2; ++x)
        for (uint32_t c = 0; c < Img.Channels; ++c)
          std::swap(row[x * Img.Channels + c], row[(Img.Width - 1 - x) * Img.Channels + c]);
    }
  }
  bool IsChange(const TImageProbe &Info) const override {
    return FUse && Info.FOrientation >= 2 && Info.FOrientation <= 8;
  }
};

class TInvert : public TEffect {
public:
  explicit TInvert(bool Throw = false) : TEffect("反転", 1u << 21, "InvertTest", u'I'), FThrow(Throw) {}
  void DoEffect(TICCImgInfo &Img, TEffectParams &) const override {
    if (FThrow) throw ETessivoError("反転できません");
    for (uint32_t y = 0; y < Img.Height; ++y) {
      uint8_t *row = ScanLine(Img, y);
      for (uint32_t i = 0; i < Img.Width * Img.Channels; ++i) row[i] = uint8_t(255 - row[i]);
    }
  }

private:
  bool FThrow;
};

TEST(EffectTable, RowsAndDefaultChain) {
  std::set<uint32_t> ids;
  std::set<int32_t> positions;
  for (const TEffectInfo &e : EffectTable) {
    EXPECT_EQ(e.ID & (e.ID - 1), 0u) << e.ClassName;  // a single bit
    EXPECT_NE(e.ID, 128u);
    EXPECT_TRUE(ids.insert(e.ID).second) << e.ClassName;
    if (e.DefaultPosition >= 0) {
      EXPECT_TRUE(positions.insert(e.DefaultPosition).second) << e.ClassName;
    }
  }
  EXPECT_EQ(ids.size(), 16u);
  EXPECT_EQ(positions.size(), 15u);
  EXPECT_EQ(*positions.rbegin(), 14);
  const TEffectInfo *r = FindEffectInfo(EFFECT_RESIZE);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->SectionName, "ResizeFilter");
  EXPECT_EQ(FindEffectInfo(128), nullptr);

  TEffectList list;
  CreateDefaultEffects(list, "/nonexistent");
  // Every built effect joins in its default position.
  int32_t last = -1;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TEffectInfo *info = FindEffectInfo(list[i]->ID());
    ASSERT_NE(info, nullptr);
    EXPECT_GT(info->DefaultPosition, last);
    last = info->DefaultPosition;
    EXPECT_EQ(list[i]->Owner(), &list);
  }
  const int32_t resize = list.IndexOf("リサイズ");
  ASSERT_GE(resize, 0);
  EXPECT_EQ(list[resize]->SectionName(), "ResizeFilter");
  EXPECT_EQ(list[resize]->Accelerator(), u'R');
  EXPECT_TRUE(list[resize]->Use());
  EXPECT_EQ(list.IndexOf("存在しない"), -1);
  EXPECT_EQ(list.FindByID(EFFECT_DEDISTORTION), nullptr);  // no lens tool in that folder
}

struct ChainFixture : testing::Test {
  TEffectList list;
  TEffect *mirror, *resize, *invert;
  TImageProbe info;

  void SetUp() override {
    ResizeOption = TResizeOption();
    list.AddFilter(mirror = new TMirrorByOrientation);
    list.AddFilter(resize = new TResizeFilter);
    list.AddFilter(invert = new TInvert);
    info.FPath = "/src/a.jpg";
    info.Width = 1000;
    info.Height = 800;
    info.FOrientation = 1;
    list.SetResizeParam(0, 50, 0);
  }
};

TEST_F(ChainFixture, DownScaledLoading) {
  TScale s;
  EXPECT_TRUE(list.CanDownScalingLoad(info, s));
  EXPECT_DOUBLE_EQ(s.XScale, 0.5);
  EXPECT_DOUBLE_EQ(s.YScale, 0.5);

  list.SetResizeParam(8, 640, 480);
  EXPECT_TRUE(list.CanDownScalingLoad(info, s));
  EXPECT_DOUBLE_EQ(s.XScale, 0.64);
  EXPECT_DOUBLE_EQ(s.YScale, 0.6);

  // An Exif rotation ahead of the resize needs the whole image.
  info.FOrientation = 6;
  EXPECT_FALSE(list.CanDownScalingLoad(info, s));
  EXPECT_DOUBLE_EQ(s.XScale, 1.0);
  mirror->SetUse(false);
  EXPECT_TRUE(list.CanDownScalingLoad(info, s));

  // With the resize step off the image is decoded at full size.
  resize->SetUse(false);
  EXPECT_FALSE(list.CanDownScalingLoad(info, s));
  EXPECT_DOUBLE_EQ(s.XScale, 1.0);
  EXPECT_DOUBLE_EQ(s.YScale, 1.0);

  // No resize step, or no probed size: no reduced decoding.
  resize->SetUse(true);
  info.Width = 0;
  EXPECT_FALSE(list.CanDownScalingLoad(info, s));
  TEffectList none;
  none.AddFilter(new TInvert);
  EXPECT_FALSE(none.CanDownScalingLoad(info, s));
}

TEST_F(ChainFixture, IsChangeAndIsUse) {
  invert->SetUse(false);
  list.SetResizeParam(8, 1000, 800);  // the stored size already
  EXPECT_FALSE(list.IsChange(info));
  EXPECT_TRUE(list.IsUse());
  list.SetResizeParam(8, 999, 800);
  EXPECT_TRUE(list.IsChange(info));
  list.SetResizeParam(8, 1000, 800);
  info.FOrientation = 3;
  EXPECT_TRUE(list.IsChange(info));
  for (int32_t i = 0; i < list.Count(); ++i) list.ChangeState(i, 0);
  EXPECT_FALSE(list.IsChange(info));
  EXPECT_FALSE(list.IsUse());
  list.ChangeState(list.Count(), 1);  // an index past the list addresses the colour reduction
  ASSERT_NE(list.DecreaseColorEffect(), nullptr);
  EXPECT_TRUE(list.DecreaseColorEffect()->Use());
  EXPECT_TRUE(list.IsUse());
  list.ChangeState(list.Count() + 5, 0);
  EXPECT_FALSE(list.DecreaseColorEffect()->Use());
  EXPECT_FALSE(list.IsUse());
  list.ChangeState(-1, 1);
  EXPECT_FALSE(list.IsUse());
  list.ChangeState(2, 5);
  EXPECT_TRUE(invert->Use());
}

TEST_F(ChainFixture, RunsInOrderAndResetsDownScale) {
  TTestImage img(4, 2, 1, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t) { return int32_t(x * 10); });
  TEffectParams p;
  p.DownScale = 4;
  p.OutFileName = "/out/a.jpg";  // the worker's, from its list entry
  p.Number = 7;
  resize->SetUse(false);
  invert->SetUse(true);
  info.FOrientation = 2;
  list.DoEffect(img.I, info, p, 2);
  // Mirrored, then inverted.
  EXPECT_EQ(img.Get(0, 0, 0), 255 - 30);
  EXPECT_EQ(img.Get(3, 1, 0), 255);
  EXPECT_EQ(p.ExifOrientation, 2);
  EXPECT_EQ(p.DownScale, 1);
  EXPECT_EQ(p.InFileName, "/src/a.jpg");
  EXPECT_EQ(p.OutFileName, "/out/a.jpg");
  EXPECT_EQ(p.Number, 7);

  // The source name stays when the worker set one (an extracted archive member).
  p.InFileName = "/tmp/member.jpg";
  p.GrayscaleDecreaseColor = LongTrue;
  list.GetBeforeImage(invert->ID(), img.I, p, 2, info);  // mirror only
  EXPECT_EQ(img.Get(0, 0, 0), 255);
  EXPECT_EQ(p.InFileName, "/tmp/member.jpg");
  EXPECT_TRUE(p.GrayscaleDecreaseColor);  // not cleared on the way to a preview
  EXPECT_EQ(p.DownScale, 1);

  // Stopping at a member that is off still stops there: the inversion after
  // the resize step does not run.
  list.GetBeforeImage(EFFECT_RESIZE, img.I, p, 1, info);
  EXPECT_EQ(img.Get(0, 0, 0), 225);

  // An error leaves the chain at the effect and still undoes the loader's factor.
  TEffectList failing;
  failing.AddFilter(new TInvert(true));
  failing[0]->SetUse(true);
  p.DownScale = 0;
  EXPECT_THROW(failing.DoEffect(img.I, info, p, 8), ETessivoError);
  EXPECT_EQ(p.DownScale, 1);
}

// Asks for a reduction to MaxColor levels, as the grayscale effect does, and
// performs it as a plain threshold when the chain calls back.
class TTwoLevels : public TEffect {
public:
  TTwoLevels() : TEffect(EFFECT_GRAYSCALE) { FUse = true; }
  void DoEffect(TICCImgInfo &, TEffectParams &Params) const override {
    Params.GrayscaleDecreaseColor = LongTrue;
    Params.MaxColor = 2;
  }
  void DecreaseGrayLevels(TICCImgInfo &Img, int32_t MaxColor) const override {
    ASSERT_EQ(MaxColor, 2);
    for (uint32_t y = 0; y < Img.Height; ++y)
      for (uint32_t x = 0; x < Img.Width; ++x) ScanLine(Img, y)[x] = ScanLine(Img, y)[x] < 128 ? 0 : 255;
  }
};

TEST(EffectChain, GrayLevelReductionRunsAfterTheChain) {
  TEffectList list;
  list.AddFilter(new TTwoLevels);
  list.AddFilter(new TInvert);
  list[1]->SetUse(true);
  TImageProbe info;
  TTestImage img(3, 1, 1, BPP_8);
  img.Fill([](uint32_t x, uint32_t, uint32_t) { return int32_t(x * 100); });  // 0, 100, 200
  TEffectParams p;
  list.DoEffect(img.I, info, p, 1);
  EXPECT_EQ(img.Get(0, 0, 0), 255);  // inverted to 255, 155, 55, then reduced
  EXPECT_EQ(img.Get(1, 0, 0), 255);
  EXPECT_EQ(img.Get(2, 0, 0), 0);

  // A stale request from an earlier image is cleared at the start.
  TEffectList plain;
  plain.AddFilter(new TInvert);
  plain[0]->SetUse(true);
  TEffectParams q;
  q.GrayscaleDecreaseColor = LongTrue;
  EXPECT_NO_THROW(plain.DoEffect(img.I, info, q, 1));

  // A request with no grayscale effect to carry it out is an error, not a silent skip.
  class TRequestOnly : public TEffect {
  public:
    TRequestOnly() : TEffect("要求", 1u << 22, "RequestTest", u'Q') { FUse = true; }
    void DoEffect(TICCImgInfo &, TEffectParams &Params) const override { Params.GrayscaleDecreaseColor = LongTrue; }
  };
  TEffectList orphan;
  orphan.AddFilter(new TRequestOnly);
  EXPECT_THROW(orphan.DoEffect(img.I, info, q, 1), ETessivoError);
}

TEST_F(ChainFixture, OrderAndDialogs) {
  int updates = 0;
  list.OnUpdateMenu = [&] { ++updates; };
  const int32_t wrong[] = {2, 0};
  list.SetOrder(wrong);
  EXPECT_EQ(list[0], mirror);
  EXPECT_EQ(updates, 0);
  const int32_t orders[] = {2, 0, 1};
  list.SetOrder(orders);
  EXPECT_EQ(list[0], resize);
  EXPECT_EQ(list[1], invert);
  EXPECT_EQ(list[2], mirror);
  EXPECT_EQ(updates, 1);

  list.Move(2, 0);  // a panel dragged to the top
  EXPECT_EQ(list[0], mirror);
  EXPECT_EQ(list[0]->Order(), 0);
  EXPECT_EQ(list[2]->Order(), 2);

  std::vector<uint32_t> shown;
  list.OnShowConfigDialog = [&](TEffect &E) { shown.push_back(E.ID()); };
  list.ShowConfigDialogByID(int32_t(EFFECT_RESIZE));
  list.ShowConfigDialogByID(-1);
  list.ShowConfigDialogByID(int32_t(EFFECT_TRIMMING));  // not in the list
  list.ShowConfigDialog(2);
  list.ShowConfigDialog(99);  // past the list: the colour reduction
  EXPECT_EQ(shown, (std::vector<uint32_t>{EFFECT_RESIZE, invert->ID(), EFFECT_DECREASE_COLOR}));
}

TEST_F(ChainFixture, SettingsFile) {
  // Without "Order" keys the order stays; "Use" is read.
  TMemIniFile ini;
  ini.LoadFromBytes("[ResizeFilter]\nUse=0\n[InvertTest]\nUse=1\n");
  list.ReadIniFile(ini);
  EXPECT_EQ(list[0], mirror);
  EXPECT_EQ(list[1], resize);
  EXPECT_EQ(list[2], invert);
  EXPECT_FALSE(resize->Use());
  EXPECT_TRUE(invert->Use());
  EXPECT_TRUE(mirror->Use());

  ini.LoadFromBytes("[MirrorTest]\nOrder=9\n[InvertTest]\nOrder=-1\n");
  list.ReadIniFile(ini);
  EXPECT_EQ(list[0], invert);
  EXPECT_EQ(list[1], resize);
  EXPECT_EQ(list[2], mirror);

  TMemIniFile out;
  list.WriteIniFile(out);
  EXPECT_EQ(out.ReadInteger("MirrorTest", "Order", 0), 9);
  EXPECT_EQ(out.ReadInteger("ResizeFilter", "Order", -5), 1);
  EXPECT_FALSE(out.ReadBool("ResizeFilter", "Use", true));

  // What was written comes back in the same order with the same switches.
  TEffectList again;
  TEffect *m2, *r2, *i2;
  again.AddFilter(m2 = new TMirrorByOrientation);
  again.AddFilter(r2 = new TResizeFilter);
  again.AddFilter(i2 = new TInvert);
  TMemIniFile back;
  back.LoadFromBytes(out.SaveToBytes());
  again.ReadIniFile(back);
  EXPECT_EQ(again[0], i2);
  EXPECT_EQ(again[1], r2);
  EXPECT_EQ(again[2], m2);
  EXPECT_FALSE(r2->Use());
}

// Writes its identifier into the parameter stream, as the four effects of
// the lossless-JPEG tool write their settings.
class TStreamed : public TEffect {
public:
  TStreamed(uint32_t ID, const char *Name) : TEffect(Name, ID, Name, u'X') {}
  void DoEffect(TICCImgInfo &, TEffectParams &) const override {}
  void WriteParamToStream(std::vector<uint8_t> &S) const override { StreamWriteInt32(S, int32_t(FID)); }
};

TEST(EffectStream, FixedSectionOrderAndWriters) {
  TEffectList list;
  list.AddFilter(new TStreamed(EFFECT_ADD_TEXT, "t"));
  list.AddFilter(new TStreamed(EFFECT_TONE_CURVE, "c"));
  list.AddFilter(new TStreamed(EFFECT_GRAYSCALE, "g"));  // not part of the stream
  list.AddFilter(new TStreamed(EFFECT_TRIMMING, "m"));
  std::vector<uint8_t> s;
  list.WriteParamToStream(s);
  const std::vector<uint8_t> expect = {16, 0, 0, 0, 0, 2, 0, 0, 0, 16, 0, 0};
  EXPECT_EQ(s, expect);  // trimming, (no colour correction), tone curve, text

  s.clear();
  StreamWriteInt32(s, -2);
  StreamWriteDouble(s, 1.0);
  EXPECT_EQ(s, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  const struct {
    std::string text;
    std::vector<uint8_t> bytes;
  } strings[] = {
      {"", {0, 0, 0, 0}},
      {"A画", {2, 0, 0, 0, 'A', 0, 0x3B, 0x75}},
      {"\xF0\x9F\x98\x80", {2, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE}},        // a surrogate pair
      {"a\xFF\xE7\x94", {4, 0, 0, 0, 'a', 0, 0xFD, 0xFF, 0xFD, 0xFF, 0xFD, 0xFF}},  // one per broken byte
      {"\xC0\xAF", {1, 0, 0, 0, 0xFD, 0xFF}},  // an overlong form
  };
  for (const auto &c : strings) {
    s.clear();
    StreamWriteString(s, c.text);
    EXPECT_EQ(s, c.bytes) << c.text;
  }
}

TEST_F(ChainFixture, OrderDialogModel) {
  TChangeOrderModel m(list);
  ASSERT_EQ(m.Count(), 3);
  EXPECT_EQ(m.Name(1), "リサイズ");
  EXPECT_FALSE(m.Up(0));
  EXPECT_FALSE(m.Down(2));
  EXPECT_FALSE(m.Down(7));
  EXPECT_TRUE(m.Down(0));  // mirror below the resize step
  EXPECT_TRUE(m.Down(1));  // and below the inversion
  EXPECT_EQ(m.Name(0), "リサイズ");
  EXPECT_EQ(m.Index(2), 0);
  EXPECT_EQ(m.Orders(), (std::vector<int32_t>{2, 0, 1}));
  m.Apply(list);
  EXPECT_EQ(list[0], resize);
  EXPECT_EQ(list[1], invert);
  EXPECT_EQ(list[2], mirror);
}

TEST(EffectChain, ExifRotationSwitchIsMirroredInTheList) {
  // An effect with the Exif rotation's identifier takes its row of the table.
  class TOrientationOnly : public TEffect {
  public:
    TOrientationOnly() : TEffect(EFFECT_EXIF_ROTATION) {}
    void DoEffect(TICCImgInfo &, TEffectParams &) const override {}
  };
  TEffectList list;
  auto *e = new TOrientationOnly;
  EXPECT_EQ(e->Name(), "Exif自動回転");
  EXPECT_TRUE(e->Use());  // on at creation
  list.AddFilter(e);
  EXPECT_TRUE(list.FExifRotationUse);
  list.ChangeState(0, 0);
  EXPECT_FALSE(list.FExifRotationUse);
  TMemIniFile ini;
  ini.LoadFromBytes("[ExifRotationFilter]\nUse=1\n");
  list.ReadIniFile(ini);
  EXPECT_TRUE(list.FExifRotationUse);
}

}  // namespace
