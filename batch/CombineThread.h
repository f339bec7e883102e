// Image combining (conversion mode 2): the checked list entries are tiled,
// in list order, into pages of up to Rows x Columns images, one output file
// per page. Each image is only loaded, reduced to 8 bits, resized to its
// cell and converted into the page's colour space; the effect chain is not
// applied. The page thread TCombineThread gathers, builds, names and writes
// the pages; the per-image jobs of a page run on a pool whose threads each
// own a resizer, a colour transform and an inner pool. BuildCombinedPreview
// builds one page the same way without writing it.
#pragma once

#include "batch/CombineOption.h"
#include "batch/ExternalTool.h"
#include "core/ImgInfo.h"
#include "core/MemoryBudget.h"
#include "effects/RunSettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct TImageInfo;
class TImageInfoList;
class TEngineSet;
class TMultiThread;
class TResizer;
class TTransForm;

// Notifications of a combining run (WM_APP + 0x100 to 0x102); the word
// parameter of the first two is the page thread's identifier.
constexpr uint32_t WM_COMBINE_DONE = 0x8100;     // every page is done
constexpr uint32_t WM_COMBINE_STOPPED = 0x8101;  // the thread ended on a stop request
constexpr uint32_t WM_COMBINE_IMAGE = 0x8102;    // one image was loaded (or failed)

// Where notifications go: (message, thread identifier).
using TCombinePostProc = std::function<void(uint32_t Msg, uint64_t ThreadID)>;

// One written page, for the post-run commands: its path, and the folder and
// name (without extension) of the archive its first image came from, or the
// source's folder and "NotArchive".
struct TOutputFileInfo {
  std::string FileName;
  std::string ArcDir;
  std::string ArcName;
};
TOutputFileInfo OutputFileInfoOf(const TImageInfo &First, const std::string &FileName);

// The cell size of a page: (Width, Height), or Percent of the probed size
// of the page's first entry (whole pixels, rounded down); at least 1 each.
void CombineCellSize(const TCombineOption &Option, const TImageInfo &First, int32_t &CellWidth,
                     int32_t &CellHeight);

// The size an image of w x h is resized to for a cell: fit inside it
// (BLANK_FIT), cover it (BLANK_FILL), or keep the cell height (gapless rows,
// Order 0) or the cell width (gapless columns, Order 1). Lengths are
// rounded to nearest, at least 1.
void CombineTargetSize(const TCombineOption &Option, int32_t CellWidth, int32_t CellHeight, int32_t w, int32_t h,
                       int32_t &TargetWidth, int32_t &TargetHeight);

// Fill-and-crop: keeps the middle CellWidth columns of a wider image, else
// the middle CellHeight buffer rows of a taller one; rows are stored
// bottom-up, so the extra row of an odd difference is cut at the top.
void CropToCell(TICCImgInfo &Img, int32_t CellWidth, int32_t CellHeight);

// The record the per-image jobs of one page share.
struct TCombineProcParam {
  std::vector<TImageInfo *> Info;  // the page's entries, in placement order
  std::vector<TICCImgInfo> Img;    // the loaded images (empty: failed), owned by the record
  std::vector<int32_t> TargetWidth, TargetHeight;  // what each image was resized to (its place)
  std::atomic<int32_t> Atom{0};    // next image index to take
  std::atomic<int32_t> Failed{0};  // images that failed to load, over every page
  std::atomic<int64_t> PixelsLoaded{0};  // source pixels of the images loaded, over every page
  int32_t MaxIndex = 0;
  std::vector<TResizer *> Resizer;  // one per pool thread
  std::vector<TTransForm *> TF;
  std::vector<TMultiThread *> MT;
  TCombinePostProc ProgressFormHandle;  // per-image progress; empty for the preview
  int32_t Width = 1, Height = 1;        // the cell size of this page

  // What the jobs read: the run's settings and the combining record.
  const TRunSettings *Settings = nullptr;
  const TCombineOption *Option = nullptr;
  TMemoryBudget Budget;

  TCombineProcParam() = default;
  ~TCombineProcParam();
  TCombineProcParam(const TCombineProcParam &) = delete;
  TCombineProcParam &operator=(const TCombineProcParam &) = delete;
  // Releases every image and makes room for Count.
  void Reset(int32_t Count);
};

// The per-image job: pool thread ThreadIndex takes indexes until MaxIndex,
// loading, reducing and resizing each image with its own engines. A file
// that fails is logged as its name, ": " and the message; its image stays
// empty.
void CombineImageJob(int32_t ThreadIndex, int32_t ThreadCount, void *Param);

// Assembles the loaded images of Param into Page (which must be empty): the
// channel count and profile, the background, the layout of Option. The
// gapless layout scales its strips with Resizer on MT; Transform converts
// each image into the page's colour space.
void AssembleCombinedPage(TCombineProcParam &Param, const TCombineOption &Option, TICCImgInfo &Page,
                          TResizer *Resizer, TMultiThread *MT, TTransForm *Transform);

// The engines of a page build: a pool of Slots threads for the per-image
// jobs, each slot with an engine set (resizer, transform, inner pool of
// PoolSize threads) copied from the program's prototypes. Made on the
// thread that owns the prototypes.
class TCombinePageBuilder {
public:
  TCombinePageBuilder(const TCombineOption &Option, const TRunSettings &Settings, int32_t Slots, int32_t PoolSize);
  ~TCombinePageBuilder();
  TCombinePageBuilder(const TCombinePageBuilder &) = delete;
  TCombinePageBuilder &operator=(const TCombinePageBuilder &) = delete;

  // Gathers from Position on (which advances over every entry examined):
  // entries that are checked, whose source exists and whose format is known
  // (probing those not probed yet), up to Rows x Columns of them.
  std::vector<TImageInfo *> Gather(TImageInfoList &List, int32_t &Position) const;
  // Loads, resizes and assembles the entries into Page (emptied first);
  // Progress, when set, hears WM_COMBINE_IMAGE after every image.
  void Build(const std::vector<TImageInfo *> &Entries, TICCImgInfo &Page, const TCombinePostProc &Progress);

  const TCombineOption &Option() const { return FOption; }
  const TRunSettings &Settings() const { return FSettings; }
  int32_t ImagesFailed() const { return FParam.Failed.load(); }
  int64_t PixelsLoaded() const { return FParam.PixelsLoaded.load(); }
  TEngineSet &FirstSlot() { return *FSlots.front(); }

private:
  const TCombineOption FOption;
  TRunSettings FSettings;  // with the reduced JPEG decoding of a combining run
  std::vector<std::unique_ptr<TEngineSet>> FSlots;
  std::unique_ptr<TMultiThread> FPool;
  TCombineProcParam FParam;
};

// Names and writes one page (counter already advanced): the template under
// the first entry's folder (unless absolute), "[k]" or nothing for a name
// that is taken as the overwrite policy says, the writer of the name's type
// without Exif or other markers. Answers the written path, or empty when the
// page was not written (invalid template, name taken with Skip, read-only
// output). Raises when the writer fails; nothing is left at the name then.
std::string WriteCombinedPage(TICCImgInfo &Page, const TImageInfo &First, int32_t Counter,
                              const std::string &Template, bool NotOverwrite, const TCombineOption &Option,
                              const TRunSettings &Settings, TEngineSet &Engines);

// One page of the list into Image (emptied first) without writing it: with
// k = Rows x Columns and P pages of k entries, gathering starts at entry
// k x (PageIndex mod P). True when a page image was made. Reads the
// program-wide settings; runs on the thread that owns them.
bool BuildCombinedPreview(TImageInfoList &List, TICCImgInfo &Image, int32_t PageIndex);

class TProgressForm2;

// The page thread of a run.
class TCombineThread {
public:
  // Created suspended; Resume starts it. Post receives the notifications.
  TCombineThread(TProgressForm2 &Parent, TCombinePostProc Post);
  ~TCombineThread();  // waits for the thread
  TCombineThread(const TCombineThread &) = delete;
  TCombineThread &operator=(const TCombineThread &) = delete;

  void Resume();
  void Terminate() { FTerminated = true; }  // looked at once per page
  void WaitFor();
  uint64_t ThreadID() const { return FThreadID; }

  // Valid after the thread has reported.
  const std::vector<TOutputFileInfo> &Written() const { return FWritten; }
  int32_t PagesBuilt() const { return FPagesBuilt; }
  // Read while the thread runs.
  int32_t ImagesFailed() const { return FBuilder->ImagesFailed(); }
  int64_t PixelsLoaded() const { return FBuilder->PixelsLoaded(); }
  int32_t NextNumber() const { return FNextNumber; }

  TProgressForm2 &Parent;

private:
  void Execute();
  bool Run();
  void RunExternalCommands();

  TCombinePostProc FPost;
  std::atomic<bool> FTerminated{false};
  std::vector<TOutputFileInfo> FWritten;
  std::vector<TExternalToolEntry> FToolEntries;  // the same pages, as the post-run commands take them
  int32_t FPagesBuilt = 0;
  int32_t FNextNumber = 1;
  uint64_t FThreadID = 0;
  std::unique_ptr<TCombinePageBuilder> FBuilder;
  std::thread FThread;
};
