// Image combining: gathering, the per-image jobs, page assembly, naming and
// writing, the preview page and the page thread.
#include "batch/CombineThread.h"

#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ExternalTool.h"
#include "batch/FileNameTemplate.h"
#include "batch/ImageInfo.h"
#include "batch/MakeOutputFileName.h"
#include "batch/ProgressFrm2.h"
#include "color/ICCUtil.h"
#include "core/MultiThread.h"
#include "core/PixelConvert.h"
#include "core/TempFile.h"
#include "io/LoadPicture.h"
#include "io/SavePicture.h"
#include "resample/Resize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace {

// JPEG sources are decoded at up to 1/8 size as long as the decode keeps
// at least the cell's size: a page needs a few hundred pixels of a photo.
constexpr int32_t COMBINE_DECODE_HALVINGS = 3;
constexpr int32_t COMBINE_DOWNSCALING_LIMIT = 100;

int32_t RoundHalfUp(double v) { return int32_t(std::trunc(v + 0.5)); }

std::string FolderOf(const std::string &Path) {
  const size_t Slash = Path.find_last_of('/');
  return Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1);
}

std::string WithoutExtension(const std::string &Name) {
  const size_t Dot = Name.find_last_of('.');
  return Dot == std::string::npos || Dot == 0 ? Name : Name.substr(0, Dot);
}

// Anything at the path, file or not: a name taken by a folder is taken too.
bool PathExists(const std::string &Path) {
  struct stat st;
  return ::lstat(Path.c_str(), &st) == 0;
}

// mkdir -p; a folder that cannot be made fails the write, which says why.
void MakeFolders(const std::string &Folder) {
  for (size_t Pos = 1; Pos != std::string::npos && Pos < Folder.size(); Pos = Folder.find('/', Pos + 1))
    ::mkdir(Folder.substr(0, Pos).c_str(), 0777);
  if (!Folder.empty()) ::mkdir(Folder.c_str(), 0777);
}

// Buffer row y of an image (rows are stored bottom-up: row 0 is the bottom).
uint8_t *Row(const TICCImgInfo &Img, uint32_t y) { return Img.Mem + size_t(y) * Img.Bpl; }

// An empty 8-bit image of w x h in Channels channels, every pixel Fill
// (B, G, R, A in sample order; gray takes the first).
void MakeFilled(TICCImgInfo &Img, uint32_t w, uint32_t h, uint32_t Channels, const uint8_t Fill[4]) {
  std::memset(&Img, 0, sizeof Img);
  Img.Width = w;
  Img.Height = h;
  Img.Channels = Channels;
  Img.BPP = BPP_8;
  Img.Bpl = GetAlignedBpl(w, Channels);
  Img.Mem = AllocPixelBlockReused(Img.Bpl, h);
  Img.PixelFormat = Channels == 1 ? PIXFMT_GRAY : Channels == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t *d = Row(Img, y);
    if (Channels == 1) {
      std::memset(d, Fill[0], w);
      continue;
    }
    for (uint32_t x = 0; x < w; ++x, d += Channels) std::memcpy(d, Fill, Channels);
  }
}

// Brings an 8-bit image to the page's channel count: gray repeated into
// blue, green and red, alpha 255 added where the page has alpha and the
// image has none.
void ExpandChannels(TICCImgInfo &Img, uint32_t Channels) {
  if (Img.Channels == Channels || !Img.Mem) return;
  const uint32_t Bpl = GetAlignedBpl(Img.Width, Channels);
  uint8_t *Mem = AllocPixelBlockReused(Bpl, Img.Height);
  for (uint32_t y = 0; y < Img.Height; ++y) {
    const uint8_t *s = Row(Img, y);
    uint8_t *d = Mem + size_t(y) * Bpl;
    for (uint32_t x = 0; x < Img.Width; ++x, s += Img.Channels, d += Channels) {
      if (Img.Channels == 1) d[0] = d[1] = d[2] = s[0];
      else std::memcpy(d, s, 3);
      if (Channels == 4) d[3] = 255;
    }
  }
  PageFree(Img.Mem);
  Img.Mem = Mem;
  Img.Bpl = Bpl;
  Img.Channels = Channels;
  Img.PixelFormat = Channels == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
}

// Copies Src into Dest with its left edge at Left and its top edge at Top
// (measured from the top of the picture); what falls outside is cut.
void PlaceImage(const TICCImgInfo &Src, TICCImgInfo &Dest, int64_t Left, int64_t Top) {
  if (!Src.Mem || Src.Channels != Dest.Channels) return;
  const int64_t x0 = std::max<int64_t>(0, Left), x1 = std::min<int64_t>(Dest.Width, Left + Src.Width);
  if (x0 >= x1) return;
  const size_t Bytes = size_t(x1 - x0) * Dest.Channels;
  for (uint32_t sy = 0; sy < Src.Height; ++sy) {
    // Source buffer row sy is picture row (h - 1 - sy) of the image.
    const int64_t PictureRow = Top + int64_t(Src.Height) - 1 - sy;
    if (PictureRow < 0 || PictureRow >= int64_t(Dest.Height)) continue;
    const uint32_t dy = uint32_t(int64_t(Dest.Height) - 1 - PictureRow);
    std::memcpy(Row(Dest, dy) + size_t(x0) * Dest.Channels, Row(Src, sy) + size_t(x0 - Left) * Src.Channels, Bytes);
  }
}

// Brings Img to the page's channel count and into its colour space.
void ConvertForPage(TICCImgInfo &Img, const TICCImgInfo &Page, TTransForm *Transform) {
  ExpandChannels(Img, Page.Channels);
  if (Transform && Transform->InitSrcToDestTransform(Img, Page)) {
    Transform->DoTransform(Img);
    Transform->ResetTransform();
  }
}

// The page's format, profile and background sample values.
void PreparePage(TCombineProcParam &Param, const TCombineOption &Option, TICCImgInfo &Page, uint32_t &Channels,
                 uint8_t Fill[4], TTransForm *Transform) {
  Channels = 1;
  const TICCImgInfo *First = nullptr;
  for (const TICCImgInfo &Img : Param.Img) {
    if (!Img.Mem) continue;
    if (!First) First = &Img;
    Channels = std::max(Channels, Img.Channels);
  }
  std::memset(&Page, 0, sizeof Page);
  Page.Channels = Channels;
  Page.BPP = BPP_8;
  if (Channels == 1) {
    Page.PixelFormat = PIXFMT_GRAY;
    // A gray page keeps the profile of its first picture, in a copy of its own.
    if (First) {
      Page.ProfileType = First->ProfileType;
      if ((First->ProfileType == PROFILE_EMBEDDED || First->ProfileType == PROFILE_FROM_EXIF) && First->ICCProfile &&
          First->ProfileLen > 0) {
        Page.ICCProfile = static_cast<uint8_t *>(PageAlloc(First->ProfileLen));
        std::memcpy(Page.ICCProfile, First->ICCProfile, First->ProfileLen);
        Page.ProfileLen = First->ProfileLen;
      } else if (First->ProfileType == PROFILE_EMBEDDED || First->ProfileType == PROFILE_FROM_EXIF) {
        Page.ProfileType = PROFILE_NONE;
      }
    }
    // The background is a working-space colour: its gray level goes through
    // the page's profile.
    uint32_t Gray = Option.BackgroundColor & 0xFF;
    if (Transform && Transform->InitWork2DestTransform(Page)) {
      Gray = Transform->Work2DestColor(Gray | Gray << 8 | Gray << 16) & 0xFF;
      Transform->ResetTransform();
    }
    Fill[0] = Fill[1] = Fill[2] = uint8_t(Gray);
  } else {
    Page.PixelFormat = Channels == 3 ? PIXFMT_BGR : PIXFMT_BGRA;
    Page.ProfileType = PROFILE_WORKSPACE;
    Fill[0] = uint8_t(Option.BackgroundColor >> 16);
    Fill[1] = uint8_t(Option.BackgroundColor >> 8);
    Fill[2] = uint8_t(Option.BackgroundColor);
  }
  Fill[3] = 255;
}

void FillPage(TICCImgInfo &Page, uint32_t w, uint32_t h, const uint8_t Fill[4]) {
  TICCImgInfo Pixels;
  MakeFilled(Pixels, std::max<uint32_t>(1, w), std::max<uint32_t>(1, h), Page.Channels, Fill);
  Page.Mem = Pixels.Mem;
  Page.Width = Pixels.Width;
  Page.Height = Pixels.Height;
  Page.Bpl = Pixels.Bpl;
}

void AssembleGrid(TCombineProcParam &Param, const TCombineOption &Option, TICCImgInfo &Page, const uint8_t Fill[4]) {
  const int64_t n = Param.MaxIndex;
  int64_t Across, Down;
  if (Option.Order == COMBINE_ACROSS_FIRST) {
    Across = std::min<int64_t>(n, Option.Rows);
    Down = (n + Option.Rows - 1) / Option.Rows;
  } else {
    Down = std::min<int64_t>(n, Option.Columns);
    Across = (n + Option.Columns - 1) / Option.Columns;
  }
  const int64_t CellW = Param.Width, CellH = Param.Height;
  FillPage(Page, uint32_t(CellW * Across + (Across - 1) * Option.RowSpace),
           uint32_t(CellH * Down + (Down - 1) * Option.ColumnSpace), Fill);
  int64_t Col = 0, RowIndex = 0;
  for (int64_t i = 0; i < n; ++i) {
    const TICCImgInfo &Img = Param.Img[size_t(i)];
    if (Img.Mem) {
      const int64_t Left = (CellW - int64_t(Img.Width)) / 2 + (CellW + Option.RowSpace) * Col;
      const int64_t Top = (CellH - int64_t(Img.Height)) / 2 + (CellH + Option.ColumnSpace) * RowIndex;
      PlaceImage(Img, Page, Left, Top);
    }
    if (Option.Order == COMBINE_ACROSS_FIRST) {
      if (++Col == Option.Rows) Col = 0, ++RowIndex;
    } else {
      if (++RowIndex == Option.Columns) RowIndex = 0, ++Col;
    }
  }
}

// Gapless packing: strips of images (rows with Order 0, columns with
// Order 1), each scaled to the length of the shortest, stacked with gaps.
void AssembleStrips(TCombineProcParam &Param, const TCombineOption &Option, TICCImgInfo &Page, const uint8_t Fill[4],
                    TResizer *Resizer, TMultiThread *MT, bool UseLimiter) {
  const bool Rows = Option.Order == COMBINE_ACROSS_FIRST;
  const int32_t PerStrip = Rows ? Option.Rows : Option.Columns;
  const int32_t Gap = Rows ? Option.RowSpace : Option.ColumnSpace;         // between images in a strip
  const int32_t StripGap = Rows ? Option.ColumnSpace : Option.RowSpace;    // between strips
  const int32_t n = Param.MaxIndex;
  std::vector<TICCImgOwner> Strips;
  for (int32_t First = 0; First < n; First += PerStrip) {
    const int32_t Last = std::min(n, First + PerStrip);
    // A picture that failed keeps its place in the strip, showing the background.
    int64_t Length = 0;
    for (int32_t i = First; i < Last; ++i) {
      const TICCImgInfo &Img = Param.Img[size_t(i)];
      const int64_t Own = Img.Mem ? (Rows ? Img.Width : Img.Height)
                                  : (Rows ? Param.TargetWidth[size_t(i)] : Param.TargetHeight[size_t(i)]);
      Length += Own + (i > First ? Gap : 0);
    }
    Strips.emplace_back();
    TICCImgInfo &Strip = *Strips.back();
    const uint32_t w = uint32_t(std::max<int64_t>(1, Rows ? Length : Param.Width));
    const uint32_t h = uint32_t(std::max<int64_t>(1, Rows ? Param.Height : Length));
    MakeFilled(Strip, w, h, Page.Channels, Fill);
    Strip.ProfileType = Page.ProfileType;
    int64_t Pos = 0;
    for (int32_t i = First; i < Last; ++i) {
      const TICCImgInfo &Img = Param.Img[size_t(i)];
      const int64_t Own = Img.Mem ? (Rows ? Img.Width : Img.Height)
                                  : (Rows ? Param.TargetWidth[size_t(i)] : Param.TargetHeight[size_t(i)]);
      if (Img.Mem) {
        if (Rows) PlaceImage(Img, Strip, Pos, (int64_t(h) - Img.Height) / 2);
        else PlaceImage(Img, Strip, (int64_t(w) - Img.Width) / 2, Pos);
      }
      Pos += Own + Gap;
    }
  }
  // Every strip takes the length of the shortest.
  uint32_t m = UINT32_MAX;
  for (const TICCImgOwner &S : Strips) m = std::min(m, Rows ? S->Width : S->Height);
  int64_t Across = 0;
  for (TICCImgOwner &S : Strips) {
    const uint32_t w = Rows ? m : uint32_t(std::max(1, RoundHalfUp(double(m) * S->Width / S->Height)));
    const uint32_t h = Rows ? uint32_t(std::max(1, RoundHalfUp(double(m) * S->Height / S->Width))) : m;
    if (w != S->Width || h != S->Height) {
      Resizer->ResizeImage(*S, w, MT, UseLimiter, S->Channels == 4, h);
      ConvertTo8Bit(*S, false, DITHER_NONE);
    }
    Across += (Rows ? S->Height : S->Width);
  }
  Across += int64_t(Strips.size() - 1) * StripGap;
  FillPage(Page, Rows ? m : uint32_t(Across), Rows ? uint32_t(Across) : m, Fill);
  int64_t Pos = 0;
  for (TICCImgOwner &S : Strips) {
    if (Rows) PlaceImage(*S, Page, 0, Pos);
    else PlaceImage(*S, Page, Pos, 0);
    Pos += (Rows ? S->Height : S->Width) + StripGap;
  }
}

}  // namespace

TOutputFileInfo OutputFileInfoOf(const TImageInfo &First, const std::string &FileName) {
  TOutputFileInfo Info;
  Info.FileName = FileName;
  if (First.FIsArchive) {
    Info.ArcDir = FolderOf(First.FArchivePath);
    const size_t Slash = First.FArchivePath.find_last_of('/');
    Info.ArcName = WithoutExtension(Slash == std::string::npos ? First.FArchivePath : First.FArchivePath.substr(Slash + 1));
  } else {
    Info.ArcDir = FolderOf(First.FPath);
    Info.ArcName = "NotArchive";
  }
  if (Info.ArcDir.size() > 1 && Info.ArcDir.back() == '/') Info.ArcDir.pop_back();
  return Info;
}

void CombineCellSize(const TCombineOption &Option, const TImageInfo &First, int32_t &CellWidth,
                     int32_t &CellHeight) {
  if (Option.RelativeSize == 1) {
    CellWidth = int32_t(int64_t(First.Width) * Option.Percent / 100);
    CellHeight = int32_t(int64_t(First.Height) * Option.Percent / 100);
  } else {
    CellWidth = Option.Width;
    CellHeight = Option.Height;
  }
  CellWidth = std::max(1, CellWidth);
  CellHeight = std::max(1, CellHeight);
}

void CombineTargetSize(const TCombineOption &Option, int32_t CellWidth, int32_t CellHeight, int32_t w, int32_t h,
                       int32_t &TargetWidth, int32_t &TargetHeight) {
  w = std::max(1, w);
  h = std::max(1, h);
  const auto Across = [&](int32_t Width) { return RoundHalfUp(double(Width) * h / w); };
  const auto Along = [&](int32_t Height) { return RoundHalfUp(double(Height) * w / h); };
  switch (Option.BlankType) {
    case BLANK_FIT:
    case BLANK_FILL:
      TargetWidth = CellWidth;
      TargetHeight = Across(CellWidth);
      if (Option.BlankType == BLANK_FIT ? TargetHeight > CellHeight : TargetHeight < CellHeight) {
        TargetHeight = CellHeight;
        TargetWidth = Along(CellHeight);
      }
      break;
    default:
      if (Option.Order == COMBINE_DOWN_FIRST) {
        TargetWidth = CellWidth;
        TargetHeight = Across(CellWidth);
      } else {
        TargetHeight = CellHeight;
        TargetWidth = Along(CellHeight);
      }
      break;
  }
  TargetWidth = std::max(1, TargetWidth);
  TargetHeight = std::max(1, TargetHeight);
}

void CropToCell(TICCImgInfo &Img, int32_t CellWidth, int32_t CellHeight) {
  if (!Img.Mem || Img.BPP != BPP_8) return;
  uint32_t x0 = 0, y0 = 0, w = Img.Width, h = Img.Height;
  if (uint32_t(CellWidth) < Img.Width) {
    x0 = (Img.Width - uint32_t(CellWidth)) / 2;
    w = uint32_t(CellWidth);
  } else if (uint32_t(CellHeight) < Img.Height) {
    y0 = (Img.Height - uint32_t(CellHeight)) / 2;
    h = uint32_t(CellHeight);
  } else {
    return;
  }
  const uint32_t Bpl = GetAlignedBpl(w, Img.Channels);
  uint8_t *Mem = AllocPixelBlockReused(Bpl, h);
  for (uint32_t y = 0; y < h; ++y)
    std::memcpy(Mem + size_t(y) * Bpl, Row(Img, y0 + y) + size_t(x0) * Img.Channels, size_t(w) * Img.Channels);
  PageFree(Img.Mem);
  Img.Mem = Mem;
  Img.Bpl = Bpl;
  Img.Width = w;
  Img.Height = h;
}

TCombineProcParam::~TCombineProcParam() { Reset(0); }

void TCombineProcParam::Reset(int32_t Count) {
  for (TICCImgInfo &Img : Img) ReleaseICCImgInfo(Img, true);
  Info.clear();
  Img.assign(size_t(Count), TICCImgInfo{});
  TargetWidth.assign(size_t(Count), 0);
  TargetHeight.assign(size_t(Count), 0);
  Atom = 0;
  MaxIndex = Count;
}

void CombineImageJob(int32_t ThreadIndex, int32_t, void *P) {
  TCombineProcParam &Param = *static_cast<TCombineProcParam *>(P);
  const TRunSettings &S = *Param.Settings;
  const TCombineOption &Option = *Param.Option;
  for (;;) {
    const int32_t i = Param.Atom.fetch_add(1);
    if (i >= Param.MaxIndex) break;
    TImageInfo &Entry = *Param.Info[size_t(i)];
    int32_t tw = 1, th = 1;
    CombineTargetSize(Option, Param.Width, Param.Height, Entry.Width, Entry.Height, tw, th);
    Param.TargetWidth[size_t(i)] = tw;
    Param.TargetHeight[size_t(i)] = th;
    try {
      TICCImgOwner Img;
      const TScale Scale{double(tw) / std::max(1, Entry.Width), double(th) / std::max(1, Entry.Height)};
      // Loaded as for a PNG output, which keeps alpha.
      LoadPicture(Entry, *Img, Scale, false, false, Param.TF[size_t(ThreadIndex)], true, OUTPUT_PNG, S.Formats,
                  S.ColorManagement, Param.Budget);
      ConvertTo8Bit(*Img, true, S.System.Dither);
      if (Img->Channels == 2) ExpandGrayAlpha(*Img);
      if (Img->Width != uint32_t(tw) || Img->Height != uint32_t(th)) {
        Param.Resizer[size_t(ThreadIndex)]->ResizeImage(*Img, uint32_t(tw), Param.MT[size_t(ThreadIndex)],
                                                         S.Resize.Limiter, Img->Channels == 4, uint32_t(th));
        ConvertTo8Bit(*Img, false, DITHER_NONE);
      }
      if (Option.BlankType == BLANK_FILL) CropToCell(*Img, Param.Width, Param.Height);
      Param.Img[size_t(i)] = Img.Detach();
      Param.PixelsLoaded += int64_t(Entry.Width) * Entry.Height;
    } catch (const std::exception &E) {
      ErrorLogForm().PutErrorMsg(Entry.GetName() + ": " + E.what());
      ++Param.Failed;
    }
    if (Param.ProgressFormHandle) Param.ProgressFormHandle(WM_COMBINE_IMAGE, 0);
  }
}

void AssembleCombinedPage(TCombineProcParam &Param, const TCombineOption &Option, TICCImgInfo &Page,
                          TResizer *Resizer, TMultiThread *MT, TTransForm *Transform) {
  uint32_t Channels = 1;
  uint8_t Fill[4] = {0, 0, 0, 255};
  PreparePage(Param, Option, Page, Channels, Fill, Transform);
  for (TICCImgInfo &Img : Param.Img)
    if (Img.Mem) ConvertForPage(Img, Page, Transform);
  if (Option.BlankType == BLANK_GAPLESS) {
    const bool UseLimiter = Param.Settings ? Param.Settings->Resize.Limiter : false;
    AssembleStrips(Param, Option, Page, Fill, Resizer, MT, UseLimiter);
  } else {
    AssembleGrid(Param, Option, Page, Fill);
  }
}

TCombinePageBuilder::TCombinePageBuilder(const TCombineOption &Option, const TRunSettings &Settings, int32_t Slots,
                                         int32_t PoolSize)
    : FOption(Option), FSettings(Settings) {
  FSettings.Formats.JPEG.DownScalingLimit = COMBINE_DOWNSCALING_LIMIT;
  FSettings.Formats.JPEG.DecodeWithDownScaling = COMBINE_DECODE_HALVINGS;
  Slots = std::max(1, Slots);
  const std::unique_ptr<TEngineSet> Prototypes = TEngineSet::FromPrototypes();
  for (int32_t i = 0; i < Slots; ++i) FSlots.push_back(Prototypes->CreateFor(std::max(1, PoolSize)));
  FPool = std::make_unique<TMultiThread>(Slots);
  FParam.Settings = &FSettings;
  FParam.Option = &FOption;
  FParam.Budget = {MemoryBudgetBytes(FSettings.System.MemoryBudgetMB), Slots};
  for (const auto &Slot : FSlots) {
    FParam.Resizer.push_back(Slot->Resizer.get());
    FParam.TF.push_back(Slot->ColorTransform.get());
    FParam.MT.push_back(Slot->MT.get());
  }
}

TCombinePageBuilder::~TCombinePageBuilder() = default;

std::vector<TImageInfo *> TCombinePageBuilder::Gather(TImageInfoList &List, int32_t &Position) const {
  const size_t PerPage = size_t(std::max(1, FOption.Rows)) * size_t(std::max(1, FOption.Columns));
  std::vector<TImageInfo *> Page;
  while (Position < List.Count() && Page.size() < PerPage) {
    TImageInfo *E = List[Position++];
    if (!E || !E->Checked || !FileExists(E->FIsArchive ? E->FArchivePath : E->FPath)) continue;
    if (!EnsureProbed(*E) || E->PictureFormat == PICTURE_UNKNOWN || E->Width <= 0 || E->Height <= 0) continue;
    Page.push_back(E);
  }
  return Page;
}

void TCombinePageBuilder::Build(const std::vector<TImageInfo *> &Entries, TICCImgInfo &Page,
                                const TCombinePostProc &Progress) {
  ReleaseICCImgInfo(Page, true);
  if (Entries.empty()) return;
  FParam.Reset(int32_t(Entries.size()));
  FParam.Info = Entries;
  CombineCellSize(FOption, *Entries.front(), FParam.Width, FParam.Height);
  FParam.ProgressFormHandle = Progress;
  FPool->exec_multi_thread_func(CombineImageJob, &FParam);
  TEngineSet &Main = FirstSlot();
  try {
    AssembleCombinedPage(FParam, FOption, Page, Main.Resizer.get(), Main.MT.get(), Main.ColorTransform.get());
  } catch (...) {
    ReleaseICCImgInfo(Page, true);
    FParam.Reset(0);
    throw;
  }
  FParam.Reset(0);
}

std::string WriteCombinedPage(TICCImgInfo &Page, const TImageInfo &First, int32_t Counter,
                              const std::string &Template, bool NotOverwrite, const TCombineOption &Option,
                              const TRunSettings &Settings, TEngineSet &Engines) {
  const TFileOption &File = Settings.File;
  const std::string Prefix = IsAbsoluteTemplate(Template) ? std::string() : FolderOf(First.FPath);
  // The resize scale of a page is (1, 1): the method token says "None".
  std::string Name = ExpandFileNameTemplate(Template, First, Counter, TScale{}, Settings);
  ClearFolderCountCache();
  if (Name.empty()) return {};
  Name = Prefix + Name;
  const std::string Unnumbered = Name;
  if (PathExists(Name)) {
    if (NotOverwrite) {
      if (File.Skip) return {};
      for (int64_t k = 1;; ++k) {
        Name = NumberedName(Unnumbered, k);
        if (!PathExists(Name)) break;
      }
    } else if (!File.IgnoreReadOnlyAttr && IsReadOnlyOutput(Name)) {
      return {};
    }
  }
  MakeFolders(FolderOf(Name));
  TResolutionInfo RInfo;
  RInfo.ResolutionUnit = First.FResolutionUnit;
  RInfo.XResolution = First.FXResolution;
  RInfo.YResolution = First.FYResolution;
  const int32_t Type = OutputTypeOf(Name);
  if (Type == OUTPUT_NONE) return {};

  // Without overwriting, the name is taken only if nothing is there when the
  // page is committed: another run may have written it meanwhile.
  TCommitRule Rule;
  Rule.Exclusive = NotOverwrite;
  if (NotOverwrite) Rule.NextName = [Unnumbered](int64_t k) { return k <= 1000000 ? NumberedName(Unnumbered, k) : std::string(); };
  TSaveContext Context;
  Context.Formats = Settings.Formats;
  // Transparency is flattened onto the page's own background.
  Context.Formats.Background = Option.BackgroundColor & 0xFFFFFF;
  Context.ColorManagement = Settings.ColorManagement;
  Context.ProcessPriority = Settings.System.ProcessPriority;
  Context.ThumbnailResizer = Engines.ThumbnailResizer.get();
  Context.MT = Engines.MT.get();
  Context.ColorTransform = Engines.ColorTransform.get();
  Context.Commit = &Rule;
  TSaveJob Job;
  Job.Entry = &First;
  Job.RInfo = RInfo;
  Job.LoadedBitsPerSample = 8;
  Job.Context = &Context;
  TReadOnlyGuard ReadOnly(Name);
  const TFormatOptions &F = Settings.Formats;
  switch (Type) {
    case OUTPUT_BMP: SaveBitmapFile(Name, Page, Job); break;
    case OUTPUT_JPEG: SaveJPEGFile(Name, Page, Job, F.JPEG.Quality, F.JPEG.SampleType, F.JPEG.Smoothing); break;
    case OUTPUT_PNG: SavePNGFile(Name, Page, Job); break;
    // Both writers turn the rows top-down and add the thumbnail their options ask for.
    case OUTPUT_HDP: SaveHDPFile(Name, Page, Job); break;
    case OUTPUT_TIFF: SaveTIFFFile(Name, Page, Job); break;
    default: return {};
  }
  return Rule.Committed.empty() ? Name : Rule.Committed;
}

bool BuildCombinedPreview(TImageInfoList &List, TICCImgInfo &Image, int32_t PageIndex) {
  ReleaseICCImgInfo(Image, true);
  const TCombineOption Option = CombineOption;
  const int32_t k = std::max(1, Option.Rows) * std::max(1, Option.Columns);
  if (List.Count() == 0) return false;
  const int32_t Pages = (List.Count() + k - 1) / k;
  const int32_t Index = ((PageIndex % Pages) + Pages) % Pages;
  TCombinePageBuilder Builder(Option, CurrentRunSettings(), 1, std::max(1, SystemOption.ProcessorCount));
  int32_t Position = k * Index;
  const std::vector<TImageInfo *> Entries = Builder.Gather(List, Position);
  if (Entries.empty()) return false;
  Builder.Build(Entries, Image, nullptr);
  return Image.Mem != nullptr;
}

TCombineThread::TCombineThread(TProgressForm2 &AParent, TCombinePostProc Post)
    : Parent(AParent), FPost(std::move(Post)) {
  const TRunSettings &S = Parent.Settings();
  const int32_t Slots = S.System.ParallelProcessing ? std::max(1, S.System.MaxThread) : 1;
  FBuilder = std::make_unique<TCombinePageBuilder>(Parent.Option(), S, Slots, BatchWorkerPoolSize(S.System, Slots));
}

TCombineThread::~TCombineThread() {
  Terminate();
  WaitFor();
}

void TCombineThread::Resume() {
  FThread = std::thread([this] { Execute(); });
  FThreadID = std::hash<std::thread::id>()(FThread.get_id());
}

void TCombineThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TCombineThread::Execute() {
  bool Stopped = false;
  try {
    Stopped = Run();
  } catch (const std::exception &E) {
    ErrorLogForm().PutErrorMsg(E.what());
  }
  if (FPost) FPost(Stopped ? WM_COMBINE_STOPPED : WM_COMBINE_DONE, CurrentThreadID());
}

bool TCombineThread::Run() {
  TImageInfoList &List = Parent.ImageList();
  const TRunSettings &S = FBuilder->Settings();
  std::string Template = NormalizeStoredPath(Parent.FileNameFormat);
  int64_t Counter = int64_t(ParseStartNumber(Template, S.File)) - 1;
  int32_t Position = 0;
  bool Stopped = false;
  const TCombinePostProc Progress = FPost;
  while (Position < List.Count()) {
    if (FTerminated) {
      Stopped = true;
      break;
    }
    const std::vector<TImageInfo *> Entries = FBuilder->Gather(List, Position);
    if (Entries.empty()) continue;
    ++Counter;  // every page built takes a number, written or not
    Parent.PageStarted(Entries.front()->GetName());
    const uint64_t Started = MillisecondClock();
    TICCImgOwner Page;
    try {
      FBuilder->Build(Entries, *Page, Progress);
      ++FPagesBuilt;
      const std::string Written = WriteCombinedPage(*Page, *Entries.front(), int32_t(Counter), Template,
                                                    Parent.NotOverwrite, FBuilder->Option(), S, FBuilder->FirstSlot());
      if (!Written.empty()) {
        const TImageInfo &First = *Entries.front();
        FWritten.push_back(OutputFileInfoOf(First, Written));
        FToolEntries.push_back({First.FIsArchive ? First.FArchivePath : First.FPath, First.FIsArchive != 0, Written});
        Parent.PageWritten(First, Written, double(MillisecondClock() - Started) / 1000.0);
      }
    } catch (const std::exception &E) {
      ErrorLogForm().PutErrorMsg(E.what());
    }
  }
  ReleasePageCache();
  FNextNumber = int32_t(std::clamp<int64_t>(Counter + 1, INT32_MIN, INT32_MAX));
  RunExternalCommands();
  return Stopped;
}

void TCombineThread::RunExternalCommands() {
  const TRunSettings &S = FBuilder->Settings();
  if (!S.System.UseExternalTool || S.System.Command.empty() || ErrorLogForm().GetErrorCount() != 0) return;
  // One command per written page: <outdir> its folder, <arcdir> and
  // <arcname> those of its first image.
  RunExternalTool(S.System.Command, S.File.OutputDirectory, S.System.DeleteFile != 0, S.System.DeleteFileName,
                  FToolEntries, S.System.ProcessPriority);
}
