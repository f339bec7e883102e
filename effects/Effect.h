// The effect framework: every processing step of a conversion, the resize
// included, is a TEffect; TEffectList holds them in processing order (the
// user can reorder them and switch each on and off), keeps the colour
// reduction aside to run after all of them, and runs the chain on an image
// with a per-worker TEffectParams. The effect table names every effect the
// program knows; creating the default chain walks it.
#pragma once

#include "core/ImgInfo.h"
#include "core/MemoryBudget.h"
#include "core/Scale.h"
#include "io/ImageProbe.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TEffectList;
class TFontCache;
class TGaussianBlur;
class TMemIniFile;
class TMultiThread;
class TResizer;
class TTransForm;
class TUnsharpMask;
struct TRunSettings;

// Effect identifiers, one bit each (128 is not assigned).
enum : uint32_t {
  EFFECT_GRAYSCALE = 1,
  EFFECT_ROTATION = 2,
  EFFECT_EXIF_ROTATION = 4,
  EFFECT_RESIZE = 8,
  EFFECT_TRIMMING = 16,
  EFFECT_ADD_BLANK = 32,
  EFFECT_UNSHARP_MASK = 64,
  EFFECT_COLOR_ADJUST = 256,
  EFFECT_TONE_CURVE = 512,
  EFFECT_DECREASE_COLOR = 1024,
  EFFECT_DENOISE = 2048,
  EFFECT_ADD_TEXT = 4096,
  EFFECT_COLOR_SPACE_CONVERT = 8192,
  EFFECT_LEVELS = 16384,
  EFFECT_COMPOSITE = 32768,
  EFFECT_DEDISTORTION = 65536,
};

// The per-worker context handed to every DoEffect. Each conversion worker
// owns one; the preview code owns one for the main thread. The engine
// pointers are either the program-wide objects (one worker) or the worker's
// own copies; the record does not own them.
struct TEffectParams {
  int32_t ExifOrientation = 0;  // 1 to 8 of the current image; other values: none
  // Factor (1, 2, 4, 8) by which the loader already reduced the image; the
  // resize step sets it to 1 once it has resized, the chain when it ends.
  int32_t DownScale = 0;
  TResizer *Resizer = nullptr;        // the user's kernels
  TUnsharpMask *UnSharpMask = nullptr;
  TResizer *Antialiasing = nullptr;   // Mitchell-Netravali 1/3, 1/3 both ways
  TGaussianBlur *GaussianBlur = nullptr;
  // The worker's cache of rendered text, made by the text effect on first
  // use; the deleter travels with it, so the record frees it.
  std::shared_ptr<TFontCache> FontCache;
  std::string InFileName;   // source path; set from the entry when empty
  std::string OutFileName;  // output path of the entry, set by the worker
  int32_t ThreadNum = 0;    // makes per-worker temporary names unique
  TResolutionInfo RInfo;    // output resolution, set by the worker
  double Time = 0;          // shooting (or last-write) time, days since 30 Dec 1899
  bool DecreaseColor = false;  // the colour reduction produced the final pixels
  // A file the colour reduction made in the output's format (pngnqi and a
  // PNG output): the worker puts it in place of the output instead of
  // saving, and deletes it. Empty otherwise; cleared at the start of a run.
  std::string PreparedOutput;
  bool Preview = false;        // a preview run: no colour reduction
  TTransForm *ColorTransform = nullptr;
  int32_t Number = 0;       // the entry's sequence number, set by the worker
  TMultiThread *MT = nullptr;
  LongBool GrayscaleDecreaseColor = LongFalse;  // reduce to MaxColor gray levels after the chain
  int32_t MaxColor = 0;
  TResizer *ThumbnailResizer = nullptr;
  // The run's copy of the settings records (see TRunSettings); not owned.
  const TRunSettings *Settings = nullptr;
  // What the worker's file may use; the resize step refuses a resize beyond it.
  TMemoryBudget MemoryBudget;
  // Set by the chain while the resize step runs ahead of the Exif rotation
  // that precedes it, which will turn the picture by a quarter: the step
  // sizes the picture as it will stand and resizes it as it lies.
  bool TurnAfterResize = false;
};
using PEffectParams = TEffectParams *;

// Base class of every effect. Several workers run DoEffect of one effect at
// the same time, each with its own image and TEffectParams, so DoEffect and
// IsChange only read the effect's settings; everything per image lives in
// the image record, the params or locals.
class TEffect {
public:
  TEffect(std::string Name, uint32_t ID, std::string SectionName, char16_t Accelerator);
  // Name, section, accelerator and the switch at creation from the effect table.
  explicit TEffect(uint32_t ID);
  virtual ~TEffect() = default;
  TEffect(const TEffect &) = delete;
  TEffect &operator=(const TEffect &) = delete;

  const std::string &Name() const { return FName; }
  char16_t Accelerator() const { return FAccelerator; }
  uint32_t ID() const { return FID; }
  const std::string &SectionName() const { return FSectionName; }
  int32_t Order() const { return FOrder; }
  TEffectList *Owner() const { return FOwner; }
  bool Use() const { return FUse; }

  // Stores the switch; the Exif rotation's also goes to the list's FExifRotationUse.
  virtual void SetUse(bool Value);
  // Opens the effect's dialog through the owner's dialog hook (none: nothing).
  virtual void ShowConfigDialog();
  // Transforms Img in place; an effect that changes the geometry replaces
  // the pixel block, width, height and stride inside the same record and
  // leaves it consistent for the next effect. Errors are raised.
  virtual void DoEffect(TICCImgInfo &Img, TEffectParams &Params) const = 0;
  // Whether the effect would alter this image; the base answers Use.
  virtual bool IsChange(const TImageProbe &Info) const;
  // "Use" and "Order" of the effect's section; effects add their own keys.
  virtual void ReadIniFile(const TMemIniFile &Ini);
  virtual void WriteIniFile(TMemIniFile &Ini) const;

  // Reads what a run needs from outside once before it (the composite's
  // overlay image); the others have nothing to load.
  virtual void LoadExternalImage() {}
  // The gray-level reduction the grayscale effect asks for through
  // TEffectParams.GrayscaleDecreaseColor; only that effect has one.
  virtual void DecreaseGrayLevels(TICCImgInfo &Img, int32_t MaxColor) const;
  // The effect's part of the parameter stream of the lossless-JPEG tool
  // (trimming, colour correction, tone curve and text write one).
  virtual void WriteParamToStream(std::vector<uint8_t> &S) const;

protected:
  friend class TEffectList;
  TEffectList *FOwner = nullptr;
  std::string FName;          // display name
  char16_t FAccelerator = 0;
  std::string FSectionName;   // section in the settings file
  bool FUse = false;
  int32_t FOrder = 0;         // sort key when the order is loaded or set
  uint32_t FID = 0;
};
using PEffect = TEffect *;

// One row of the effect table: everything the program knows of an effect,
// and how to make it once it is built (null until then). Adding an effect
// to the program is filling in its Create.
struct TEffectInfo {
  uint32_t ID;
  const char *ClassName;
  const char *SectionName;
  const char *DisplayName;
  char16_t Accelerator;
  bool UseAtCreation;
  int32_t DefaultPosition;  // place in the default chain; -1 for the colour reduction
  TEffect *(*Create)();
};
extern const std::span<const TEffectInfo> EffectTable;
const TEffectInfo *FindEffectInfo(uint32_t ID);

template <class T>
TEffect *NewEffect() {
  return new T;
}

class TEffectList {
public:
  // Creates the colour reduction when it is built.
  TEffectList();
  ~TEffectList();
  TEffectList(const TEffectList &) = delete;
  TEffectList &operator=(const TEffectList &) = delete;

  int32_t Count() const { return int32_t(FItems.size()); }
  TEffect *Items(int32_t Index) const { return FItems[size_t(Index)].get(); }
  TEffect *operator[](int32_t Index) const { return Items(Index); }
  // The colour reduction, outside the ordered list; null while it is not built.
  TEffect *DecreaseColorEffect() const { return FDecreaseColor.get(); }
  // The first member with this identifier, or null.
  TEffect *FindByID(uint32_t ID) const;

  // Appends E, taking it over, and makes the list its owner.
  void AddFilter(std::unique_ptr<TEffect> E);
  void AddFilter(TEffect *E) { AddFilter(std::unique_ptr<TEffect>(E)); }
  // Index of the first member whose display name is Name, or -1.
  int32_t IndexOf(const std::string &Name) const;

  // Runs the chain: every member that is on in list order, then the colour
  // reduction (not for previews) or the gray-level reduction the grayscale
  // effect asked for. Scale is the factor the loader already reduced by.
  void DoEffect(TICCImgInfo &Img, const TImageProbe &Info, TEffectParams &Params, int32_t Scale) const;
  // The image as it reaches the first member with EffectID (that member is
  // not run, whether on or off); never the colour reduction.
  void GetBeforeImage(uint32_t EffectID, TICCImgInfo &Img, TEffectParams &Params, int32_t Scale,
                      const TImageProbe &Info) const;
  // Whether the loader may decode this image reduced, and the resize
  // step's scale: only when the resize step is on and nothing ahead of it
  // changes the image.
  bool CanDownScalingLoad(const TImageProbe &Info, TScale &Scale) const;
  bool IsChange(const TImageProbe &Info) const;
  bool IsUse() const;

  // Index at or past Count addresses the colour reduction.
  void ChangeState(int32_t Index, int32_t State);
  void ShowConfigDialog(int32_t Index);
  void ShowConfigDialogByID(int32_t ID);
  void SetResizeParam(int32_t Type, double Value, double Value2);

  // Orders[i] becomes the sort key of member i, then the list is sorted by
  // it; ignored when the number of values is not Count.
  void SetOrder(std::span<const int32_t> Orders);
  // Every member's sort key becomes its present index (after a drag).
  void ReOrder();
  // Moves one member to another index (a panel was dragged); ReOrder follows.
  void Move(int32_t From, int32_t To);

  // Every member reads its section, the list is sorted by the "Order" read,
  // then the colour reduction reads its own.
  void ReadIniFile(const TMemIniFile &Ini);
  void WriteIniFile(TMemIniFile &Ini) const;
  // The parameter stream of the lossless-JPEG tool: the trimming, colour
  // correction, tone curve and text members in this order, whatever the
  // list order and their switches. A member the list lacks writes nothing.
  void WriteParamToStream(std::vector<uint8_t> &S) const;
  // Lets the first composite member load its overlay when it is on.
  void LoadExternalImage();
  // Tells the window to rebuild its effect panels.
  void UpDateMenu();

  int32_t FResizeType = 0;    // size rule of the resize step, 0 to 13
  double FResizeValue = 0;    // first size value
  double FResizeValue2 = 0;   // second size value
  bool FResizeNoExpand = false;  // "拡大しない" of the run's resize options: a rule never enlarges
  bool FExifRotationUse = false;  // mirror of the Exif-rotation effect's switch
  bool FConvertToGray = false;
  bool FUseJPEGTran = false;

  // Filled by the window: opens the dialog of an effect, rebuilds the panels.
  std::function<void(TEffect &)> OnShowConfigDialog;
  std::function<void()> OnUpdateMenu;

private:
  void RunFrom(TICCImgInfo &Img, const TImageProbe &Info, TEffectParams &Params, int32_t Scale, bool Full,
               uint32_t StopID) const;
  void SortByOrder();

  std::vector<std::unique_ptr<TEffect>> FItems;
  std::unique_ptr<TEffect> FDecreaseColor;
};
using PEffectList = TEffectList *;

// Little-endian writers of the parameter stream. A string is an Int32 count
// of UTF-16 code units followed by the units, no terminator; the UTF-8 text
// is converted (a broken sequence becomes U+FFFD).
void StreamWriteInt32(std::vector<uint8_t> &S, int32_t V);
void StreamWriteDouble(std::vector<uint8_t> &S, double V);
void StreamWriteString(std::vector<uint8_t> &S, std::string_view Text);

// Adds every built effect of the table in its default position (the colour
// reduction excepted; the list makes that itself). The lens de-distortion
// joins only when BinFolder holds "PTStitcherNG" or "dedistortion", the
// noise removal only when it holds "libdenoise.so". With EveryEffect both
// join whatever the folder holds (the key reference lists every step).
void CreateDefaultEffects(TEffectList &List, const std::string &BinFolder, bool EveryEffect = false);
