// What a preview is made from and shown with: the entry loaded and run
// through the chain up to the dialog's effect, the preview's own engines
// (pool, resizer by the preview resize mode, transforms to the monitor and
// to 8-bit Lab), fitting into the window, and the placement of the dialog
// and its two windows on the work area.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"

#include <QRect>
#include <QSize>

#include <memory>
#include <optional>
#include <vector>

class TEngineSet;
class TImageInfo;

// One consumer's preview engines; made on the GUI thread, then used by one
// thread only.
class TPreviewEngines {
public:
  // ResizeMode is TPreviewOption.ResizeMode (-1: the program-wide one's).
  explicit TPreviewEngines(int32_t PoolSize, int32_t ResizeMode = -1);
  ~TPreviewEngines();
  // The chain's engines (copies of the program-wide prototypes) on the pool.
  std::unique_ptr<TEngineSet> Set;
  std::unique_ptr<TMultiThread> MT;  // the same pool as Set's
  // Reduction kernel by TPreviewOption.ResizeMode (0 area average, 1
  // Lanczos 2, others Lanczos 3), enlargement nearest neighbour.
  std::unique_ptr<TResizer> RS;
  // Converts Img (8 bits) to the monitor profile in place; nothing when no
  // transform applies (colour management off). The transform is kept for
  // the next picture with the same layout and profile.
  void ToMonitor(TICCImgInfo &Img);
  // A transform from Img's colours to 8-bit Lab for the histogram's L*.
  const TTransForm *ToLab8(const TICCImgInfo &Img);

private:
  std::unique_ptr<TTransForm> FMonitor, FLab;
  // What the monitor transform was made for; made: whether there is one.
  struct TMonitorKey {
    uint32_t Channels = 0, PixelFormat = 0, ProfileType = 0, IsGrayAlpha = 0;
    std::vector<uint8_t> Profile;
    bool operator==(const TMonitorKey &) const = default;
  };
  std::optional<TMonitorKey> FMonitorKey;
  bool FMonitorMade = false;
};

// Loads Entry (list index Index) into Img as it reaches the effect EffectID:
// probed if needed, decoded with the main window's size rule applied, the
// overlay of the composite loaded, and the chain run up to the effect.
// Raises with the message when the entry cannot be loaded.
void LoadPreviewSource(const TPreviewContext &Ctx, TImageInfo &Entry, TICCImgInfo &Img, uint32_t EffectID,
                       int32_t Index, TPreviewEngines &Engines);

// A copy of Src with its own pixels and its own copy of the profile (a
// transform replaces and frees the profile of the image it converts); with
// a non-empty Rect (stored rows, bottom-up) only that part, clipped to Src.
void CopyPreviewImage(const TICCImgInfo &Src, TICCImgInfo &Dst, const QRect &Rect = {});

// Img fitted into a Client-sized area (FitPreviewSize) as an 8-bit image in
// Fitted: resized with the engines' resizer when larger, else a copy.
void FitPreviewImage(const TICCImgInfo &Img, TICCImgInfo &Fitted, QSize Client, TPreviewEngines &Engines);

// Where the three windows go on the work area: the preview window at its
// stored place (widened by the dialog's width; centred when that does not
// fit), the dialog to the right of it (or over its right edge, or centred),
// the histogram window below the dialog (or above, or to its right, or
// centred).
struct TPreviewPlacement {
  QRect Preview, Dialog, Histogram;
};
TPreviewPlacement PlacePreviewWindows(const QRect &Work, const TPreviewOption &Option, QSize Dialog, QSize Histogram,
                                      bool WithPreview);
