// The base of every effect dialog that shows what its settings do: it loads
// the entry selected in the main window, runs the chain up to the dialog's
// own effect, and recomputes the preview on two threads of its own (the
// whole picture, and the visible rectangle in zoomed views) whenever the
// dialog asks. The threads run the effect step the dialog hands over,
// captured from its controls on the GUI thread, so one mechanism serves
// every dialog. The preview and histogram windows are shown beside the
// dialog. Also the registry through which the main window opens an
// effect's dialog by its identifier.
#pragma once

#include "core/ImgInfo.h"
#include "effects/Histogram.h"

#include <QDialog>
#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TEffect;
class TEffectList;
class TPreviewEngines;
class TImageInfoList;
class TMultiThread;
class TResizer;
class TTransForm;
struct TEffectParams;
struct TPreviewOption;
class TPreviewForm;
class THistogramForm;
class TPreviewThread;

// What a dialog needs from the main window; the main window fills it.
struct TPreviewContext {
  TImageInfoList *List = nullptr;  // the list (empty or null: no preview)
  int32_t SelectedIndex = -1;      // the entry selected in the main window (-1: the first)
  TEffectList *Effects = nullptr;  // the chain (GetBeforeImage runs on it)
  // Place, size and view mode of the preview window and the histogram
  // choices, written back when the windows close; null: the program-wide
  // PreviewOption.
  TPreviewOption *Option = nullptr;
  // Applies the main window's size rule to the main resizer before an entry
  // is loaded; none: the resizer is used as it is.
  std::function<void()> ApplyResizeSettings;
  // The output name of the entry at Index as a single conversion would make
  // it (its type picks the loader's output depth); none: the program-wide
  // file template.
  std::function<std::string(int32_t Index)> OutputNameOf;
};

// What an effect step gets on a preview thread: that thread's own pool,
// transform and resizer bound into Params (Preview on), and the flag a
// newer request sets. A step may return early once Stale is set: its
// result is dropped anyway.
struct TPreviewStepEnv {
  TEffectParams &Params;
  TMultiThread *MT = nullptr;
  TTransForm *TF = nullptr;
  TResizer *RS = nullptr;
  const std::atomic<bool> &Stale;
  bool Spot = false;  // the step works on the visible rectangle only
  // With Spot: the rectangle of the shown picture the image stands for
  // (stored rows, bottom-up), so that a step placing something on the
  // whole picture (a text, an overlay) puts it where it lies there.
  QRect SpotRect;
  bool Cancelled() const { return Stale.load(std::memory_order_relaxed); }
};

// The effect step a threaded preview applies, made from the dialog's
// current controls on the GUI thread (copies of the values, never the
// controls); it runs on a preview thread.
using TPreviewStep = std::function<void(TICCImgInfo &Img, TPreviewStepEnv &Env)>;

class TPreviewBaseForm : public QDialog {
  Q_OBJECT
public:
  TPreviewBaseForm(const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TPreviewBaseForm() override;  // stops both threads

  // ImgIndex := Index, loads it and wires the preview window's notifications.
  void SetPreviewImageIndex(int32_t Index);
  int32_t PreviewImageIndex() const { return ImgIndex; }

  // The preview window was closed: the dialog unchecks its "プレビュー" box.
  virtual void PreviewClosed() = 0;
  // (Re)loads entry ImgIndex into Master, Src, Src2, Dest and Dest2.
  virtual void LoadPreviewImage();
  virtual uint32_t GetEffectID() const = 0;
  // Starts a computation for the current settings: the full thread always,
  // the spot thread in zoomed views. Nothing without Master or with the
  // preview off, or when MakePreviewStep gives no step.
  virtual void RequestPreview();
  virtual bool IsPreviewEnabled() const = 0;
  virtual bool IsHistogramEnabled() const { return false; }
  // The step of the threaded preview for the controls as they are now.
  virtual TPreviewStep MakePreviewStep() const { return {}; }

  // For dialogs without threads (a synchronous preview on the GUI thread).
  void UpdatePreview(const TICCImgInfo &Img);                    // Dest := Img
  void UpdatePreview(const TICCImgInfo &Img, const QRect &Rect);  // Img into Dest at Rect's corner
  void UpdateAllPreview(const TICCImgInfo &Img);                 // Dest2 := Img

  TPreviewForm *PreviewWindow() const { return FPreviewForm; }
  THistogramForm *HistogramWindow() const { return FHistogramForm; }
  // Null when nothing is loaded.
  const TICCImgInfo *Master() const;
  const TPreviewContext &Context() const { return FCtx; }
  // The histogram of the unprocessed picture (bins of THistogramCounts).
  const THistogramCounts &DefaultHistogram() const { return DefaultCount; }
  // Places the preview window, the dialog and the histogram window and
  // shows the first two when the preview is on.
  void ShowPreviewWindows();
  // Shows or hides the histogram window (the dialog's "ヒストグラム" box).
  void ShowHistogramWindow(bool On);

  // Test and bench hooks. WaitForPreview runs the event loop until the
  // newest request's result is shown (false after TimeoutMs without it).
  bool WaitForPreview(int TimeoutMs = 20000);
  // Results shown so far, by kind (full in whole view, full zoomed, spot).
  int32_t ShownFullCount() const { return FShownFull; }
  int32_t ShownSpotCount() const { return FShownSpot; }
  // Called on the GUI thread after each shown result (Spot: a rectangle).
  std::function<void(bool Spot)> OnPreviewShown;
  // The images the window shows now: after and before, full size and fitted.
  const TICCImgInfo *DestImage() const;
  const TICCImgInfo *SrcImage() const;
  const TICCImgInfo *Dest2Image() const;
  const TICCImgInfo *Src2Image() const;
  // The last processed histogram handed to the histogram window.
  const THistogramCounts &ProcessedHistogram() const { return FShownHistogram; }

protected:
  void showEvent(QShowEvent *E) override;
  void closeEvent(QCloseEvent *E) override;
  void done(int R) override;
  // Stops both threads (waits for them).
  void StopPreviewThreads();
  // Whether this dialog offers a histogram window.
  bool UseHistogram = false;
  // The effect may change the pixel format: rebuilt on every update.
  bool FNeedUpdateBitmapInfo = false;
  int32_t ImgIndex = 0;
  TICCImgOwner FMaster, FSrc, FSrc2, FDest, FDest2;
  THistogramCounts DefaultCount{};

private:
  friend class TPreviewThread;
  void Refit();
  void WireWindows();
  void DeliverFull(TICCImgOwner &Img, bool AllView, uint64_t Generation, const THistogramCounts *Counts);
  void DeliverSpot(TICCImgOwner &Img, const QRect &Spot, uint64_t Generation);
  void StepImage(int Step);
  TTransForm *MonitorTransform();

  TPreviewContext FCtx;
  TPreviewForm *FPreviewForm = nullptr;
  THistogramForm *FHistogramForm = nullptr;
  std::unique_ptr<TPreviewEngines> FEngines;  // the dialog's own: fitting, monitor colours, histograms
  std::unique_ptr<TPreviewThread> FPreviewThread;      // full picture
  std::unique_ptr<TPreviewThread> FSpotPreviewThread;  // visible rectangle
  // Generation of the newest request; a result of an older one is dropped.
  std::atomic<uint64_t> FRequestGeneration{0};
  uint64_t FShownGeneration = 0;
  bool FShownAtAll = false;
  int32_t FShownFull = 0, FShownSpot = 0;
  THistogramCounts FShownHistogram{};
  bool FPlaced = false;
  bool FDestProcessed = false;  // Dest holds a result, not the copy of Src made at loading
};

// Dialog registry: each dialog file registers how to open its effect's
// dialog, so the main window opens a dialog by the effect's identifier.
// The opener shows the dialog modally and, on OK, stores into E.
using TEffectDialogOpener = std::function<void(TEffect &E, const TPreviewContext &Ctx, QWidget *Parent)>;
void RegisterEffectDialog(uint32_t EffectID, TEffectDialogOpener Open);
// The opener of an effect, or null when the effect has no dialog yet.
const TEffectDialogOpener *FindEffectDialog(uint32_t EffectID);
// A static object per dialog file registers it when the program starts
// (the window library is linked whole, so every dialog file is present).
struct TEffectDialogRegistrar {
  TEffectDialogRegistrar(uint32_t EffectID, TEffectDialogOpener Open) {
    RegisterEffectDialog(EffectID, std::move(Open));
  }
};
