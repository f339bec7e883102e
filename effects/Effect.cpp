// The effect base class, the chain and its order and persistence.
#include "effects/Effect.h"

#include "core/Errors.h"
#include "core/IniFile.h"
#include "effects/ResizeFilter.h"
#include "effects/RotationFilter.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

// ---------------------------------------------------------------------------
// TEffect

TEffect::TEffect(std::string Name, uint32_t ID, std::string SectionName, char16_t Accelerator)
    : FName(std::move(Name)), FAccelerator(Accelerator), FSectionName(std::move(SectionName)), FID(ID) {}

TEffect::TEffect(uint32_t ID) : FID(ID) {
  const TEffectInfo *info = FindEffectInfo(ID);
  if (!info) throw ETessivoError("不明な効果です: " + std::to_string(ID));
  FName = info->DisplayName;
  FAccelerator = info->Accelerator;
  FSectionName = info->SectionName;
  FUse = info->UseAtCreation;
}

void TEffect::SetUse(bool Value) {
  FUse = Value;
  // The savers decide how to write the stored orientation from this mirror.
  if (FID == EFFECT_EXIF_ROTATION && FOwner) FOwner->FExifRotationUse = Value;
}

void TEffect::ShowConfigDialog() {
  if (FOwner && FOwner->OnShowConfigDialog) FOwner->OnShowConfigDialog(*this);
}

bool TEffect::IsChange(const TImageProbe &) const { return FUse; }

void TEffect::ReadIniFile(const TMemIniFile &Ini) {
  SetUse(Ini.ReadBool(FSectionName, "Use", FUse));
  int32_t index = 0;
  if (FOwner)
    for (int32_t i = 0; i < FOwner->Count(); ++i)
      if (FOwner->Items(i) == this) index = i;
  FOrder = Ini.ReadInteger(FSectionName, "Order", index);
}

void TEffect::WriteIniFile(TMemIniFile &Ini) const {
  Ini.WriteBool(FSectionName, "Use", FUse);
  Ini.WriteInteger(FSectionName, "Order", FOrder);
}

void TEffect::DecreaseGrayLevels(TICCImgInfo &, int32_t) const {
  // Only the grayscale effect asks for the reduction, and it brings its own.
  throw ETessivoError("グレースケールの減色は " + FName + " では行えません");
}

void TEffect::WriteParamToStream(std::vector<uint8_t> &) const {}

// ---------------------------------------------------------------------------
// Parameter stream

void StreamWriteInt32(std::vector<uint8_t> &S, int32_t V) {
  const uint32_t u = uint32_t(V);
  for (int i = 0; i < 4; ++i) S.push_back(uint8_t(u >> (8 * i)));
}

void StreamWriteDouble(std::vector<uint8_t> &S, double V) {
  uint64_t u;
  std::memcpy(&u, &V, sizeof u);
  for (int i = 0; i < 8; ++i) S.push_back(uint8_t(u >> (8 * i)));
}

namespace {

// Decodes one UTF-8 sequence at Text[i], advancing i; U+FFFD for a broken one.
char32_t NextCodePoint(std::string_view Text, size_t &i) {
  const auto byte = [&](size_t k) { return uint8_t(Text[k]); };
  const uint8_t b = byte(i);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > Text.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b : b & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  i += len;
  static constexpr char32_t Min[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < Min[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  return c;
}

}  // namespace

void StreamWriteString(std::vector<uint8_t> &S, std::string_view Text) {
  std::vector<char16_t> units;
  for (size_t i = 0; i < Text.size();) {
    const char32_t c = NextCodePoint(Text, i);
    if (c >= 0x10000) {
      units.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      units.push_back(char16_t(c));
    }
  }
  StreamWriteInt32(S, int32_t(units.size()));
  for (char16_t u : units) {
    S.push_back(uint8_t(u));
    S.push_back(uint8_t(u >> 8));
  }
}

// ---------------------------------------------------------------------------
// Effect table

const TEffectInfo *FindEffectInfo(uint32_t ID) {
  for (const TEffectInfo &e : EffectTable)
    if (e.ID == ID) return &e;
  return nullptr;
}

void CreateDefaultEffects(TEffectList &List, const std::string &BinFolder, bool EveryEffect) {
  std::vector<const TEffectInfo *> rows;
  for (const TEffectInfo &e : EffectTable)
    if (e.Create && e.DefaultPosition >= 0) rows.push_back(&e);
  std::sort(rows.begin(), rows.end(),
            [](const TEffectInfo *a, const TEffectInfo *b) { return a->DefaultPosition < b->DefaultPosition; });
  std::error_code ec;
  const std::filesystem::path bin(BinFolder);
  const bool lensTool = EveryEffect || std::filesystem::exists(bin / "PTStitcherNG", ec) ||
                        std::filesystem::exists(bin / "dedistortion", ec);
  // Noise removal is offered only where its library is installed.
  const bool denoiseLibrary = EveryEffect || std::filesystem::exists(bin / "libdenoise.so", ec);
  for (const TEffectInfo *e : rows) {
    if (e->ID == EFFECT_DEDISTORTION && !lensTool) continue;
    if (e->ID == EFFECT_DENOISE && !denoiseLibrary) continue;
    List.AddFilter(e->Create());
  }
}

// ---------------------------------------------------------------------------
// TEffectList

TEffectList::TEffectList() {
  const TEffectInfo *dc = FindEffectInfo(EFFECT_DECREASE_COLOR);
  if (dc && dc->Create) {
    FDecreaseColor.reset(dc->Create());
    FDecreaseColor->FOwner = this;
  }
}

TEffectList::~TEffectList() = default;

TEffect *TEffectList::FindByID(uint32_t ID) const {
  for (const auto &e : FItems)
    if (e->FID == ID) return e.get();
  return nullptr;
}

void TEffectList::AddFilter(std::unique_ptr<TEffect> E) {
  if (!E) return;
  E->FOwner = this;
  if (E->FID == EFFECT_EXIF_ROTATION) FExifRotationUse = E->FUse;
  FItems.push_back(std::move(E));
}

int32_t TEffectList::IndexOf(const std::string &Name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (FItems[size_t(i)]->FName == Name) return i;
  return -1;
}

namespace {

// The loader's factor is undone when the chain ends, however it ends.
struct TDownScaleReset {
  TEffectParams &P;
  ~TDownScaleReset() { P.DownScale = 1; }
};

// Marks the resize step as running ahead of a quarter turn, however it ends.
struct TTurnAfterResize {
  TEffectParams &P;
  explicit TTurnAfterResize(TEffectParams &Params) : P(Params) { P.TurnAfterResize = true; }
  ~TTurnAfterResize() { P.TurnAfterResize = false; }
};

}  // namespace

void TEffectList::RunFrom(TICCImgInfo &Img, const TImageProbe &Info, TEffectParams &Params, int32_t Scale,
                          bool Full, uint32_t StopID) const {
  TDownScaleReset reset{Params};
  Params.ExifOrientation = Info.FOrientation;
  Params.DownScale = Scale;
  if (Params.InFileName.empty()) Params.InFileName = Info.FPath;
  Params.DecreaseColor = false;
  Params.PreparedOutput.clear();
  if (Full) Params.GrayscaleDecreaseColor = LongFalse;

  for (size_t i = 0; i < FItems.size(); ++i) {
    const TEffect &e = *FItems[i];
    if (!Full && e.FID == StopID) return;
    if (!e.FUse) continue;
    size_t next = i + 1;
    while (next < FItems.size() && !FItems[next]->FUse) ++next;
    const bool resizeNext = next < FItems.size() && FItems[next]->FID == EFFECT_RESIZE && (Full || StopID != EFFECT_RESIZE);
    if (e.FID == EFFECT_EXIF_ROTATION && resizeNext && OrientationSwapsSides(Params.ExifOrientation)) {
      // A quarter turn of the whole decoded picture costs more than the
      // resize; resized first (to the turned size, axes swapped), only the
      // result is turned. Turning and resampling commute: the picture is
      // the same, but for the rounding between the two resampling passes.
      TTurnAfterResize turn{Params};
      FItems[next]->DoEffect(Img, Params);
      Params.TurnAfterResize = false;
      e.DoEffect(Img, Params);
      i = next;
      continue;
    }
    e.DoEffect(Img, Params);
  }
  if (!Full) return;

  if (FDecreaseColor && FDecreaseColor->FUse && !Params.Preview) {
    FDecreaseColor->DoEffect(Img, Params);
  } else if (Params.GrayscaleDecreaseColor) {
    // The grayscale effect asked for it; it is the one that knows how.
    const TEffect *gray = FindByID(EFFECT_GRAYSCALE);
    if (!gray) throw ETessivoError("グレースケール化の効果がありません");
    gray->DecreaseGrayLevels(Img, Params.MaxColor);
  }
}

void TEffectList::DoEffect(TICCImgInfo &Img, const TImageProbe &Info, TEffectParams &Params, int32_t Scale) const {
  RunFrom(Img, Info, Params, Scale, true, 0);
}

void TEffectList::GetBeforeImage(uint32_t EffectID, TICCImgInfo &Img, TEffectParams &Params, int32_t Scale,
                                 const TImageProbe &Info) const {
  RunFrom(Img, Info, Params, Scale, false, EffectID);
}

bool TEffectList::CanDownScalingLoad(const TImageProbe &Info, TScale &Scale) const {
  Scale = TScale{};
  for (const auto &e : FItems) {
    if (e->FID == EFFECT_RESIZE) {
      if (!e->FUse) return false;
      const auto *resize = dynamic_cast<const TResizeFilter *>(e.get());
      if (!resize || Info.Width <= 0 || Info.Height <= 0) return false;  // size unknown: decode it whole
      int32_t w = Info.Width, h = Info.Height;
      resize->GetNewSize(w, h, 1);
      Scale.XScale = double(w) / Info.Width;
      Scale.YScale = double(h) / Info.Height;
      return true;
    }
    // A change ahead of the resize expects the full image.
    if (e->IsChange(Info)) return false;
  }
  return false;
}

bool TEffectList::IsChange(const TImageProbe &Info) const {
  for (const auto &e : FItems)
    if (e->IsChange(Info)) return true;
  return FDecreaseColor && FDecreaseColor->IsChange(Info);
}

bool TEffectList::IsUse() const {
  for (const auto &e : FItems)
    if (e->FUse) return true;
  return FDecreaseColor && FDecreaseColor->FUse;
}

void TEffectList::ChangeState(int32_t Index, int32_t State) {
  if (Index < 0) return;
  TEffect *e = Index < Count() ? Items(Index) : FDecreaseColor.get();
  if (e) e->SetUse(State != 0);
}

void TEffectList::ShowConfigDialog(int32_t Index) {
  if (Index < 0) return;
  TEffect *e = Index < Count() ? Items(Index) : FDecreaseColor.get();
  if (e) e->ShowConfigDialog();
}

void TEffectList::ShowConfigDialogByID(int32_t ID) {
  if (ID < 0) return;
  if (TEffect *e = FindByID(uint32_t(ID))) e->ShowConfigDialog();
}

void TEffectList::SetResizeParam(int32_t Type, double Value, double Value2) {
  FResizeType = Type;
  FResizeValue = Value;
  FResizeValue2 = Value2;
}

void TEffectList::SortByOrder() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [](const std::unique_ptr<TEffect> &a, const std::unique_ptr<TEffect> &b) {
                     return a->FOrder < b->FOrder;
                   });
}

void TEffectList::SetOrder(std::span<const int32_t> Orders) {
  if (Orders.size() != FItems.size()) return;
  for (size_t i = 0; i < FItems.size(); ++i) FItems[i]->FOrder = Orders[i];
  SortByOrder();
  UpDateMenu();
}

void TEffectList::ReOrder() {
  for (size_t i = 0; i < FItems.size(); ++i) FItems[i]->FOrder = int32_t(i);
}

void TEffectList::Move(int32_t From, int32_t To) {
  if (From < 0 || From >= Count() || To < 0 || To >= Count() || From == To) return;
  auto e = std::move(FItems[size_t(From)]);
  FItems.erase(FItems.begin() + From);
  FItems.insert(FItems.begin() + To, std::move(e));
  ReOrder();
}

void TEffectList::ReadIniFile(const TMemIniFile &Ini) {
  for (const auto &e : FItems) e->ReadIniFile(Ini);
  SortByOrder();
  if (FDecreaseColor) FDecreaseColor->ReadIniFile(Ini);
}

void TEffectList::WriteIniFile(TMemIniFile &Ini) const {
  for (const auto &e : FItems) e->WriteIniFile(Ini);
  if (FDecreaseColor) FDecreaseColor->WriteIniFile(Ini);
}

void TEffectList::WriteParamToStream(std::vector<uint8_t> &S) const {
  for (uint32_t id : {EFFECT_TRIMMING, EFFECT_COLOR_ADJUST, EFFECT_TONE_CURVE, EFFECT_ADD_TEXT})
    for (const auto &e : FItems)
      if (e->FID == id) e->WriteParamToStream(S);
}

void TEffectList::LoadExternalImage() {
  if (TEffect *e = FindByID(EFFECT_COMPOSITE))
    if (e->FUse) e->LoadExternalImage();
}

void TEffectList::UpDateMenu() {
  if (OnUpdateMenu) OnUpdateMenu();
}
