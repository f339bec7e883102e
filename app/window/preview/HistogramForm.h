// The histogram window of the effect dialogs: the histogram of the
// unprocessed picture and that of the processed one blended over each other
// in a 268 x 130 bitmap, for the channels "RGB", "R", "G", "B", "Y", "CbCr"
// (and "L" when Lab mode is on), on a linear or logarithmic scale.
#pragma once

#include "effects/Histogram.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
struct TPreviewOption;
class THistogramCanvas;

// The channel list's entries, in list order ("L" only with Lab mode).
enum class THistogramChannel : int32_t { RGB = 0, R, G, B, Y, CbCr, L };

// Draws Default (weight 30) and Processed (weight 85; Cb 128) into a white
// 268 x 130 bitmap by the window's rules; Processed may be null.
QImage DrawHistogram(const THistogramCounts &Default, const THistogramCounts *Processed, THistogramChannel Channel,
                     bool Logarithmic, bool IsGrayscale);

class THistogramForm : public QWidget {
  Q_OBJECT
public:
  THistogramForm(TPreviewOption &Option, bool LabMode, QWidget *Parent = nullptr);

  // The dialog and its RequestPreview (asked when the channel list needs
  // another kind of histogram).
  void SetParentForm(QWidget *Form, std::function<void()> UpdateProc);
  // The unprocessed picture's histogram: TotalCount := sum of bins 0-255,
  // IsGrayscale := all green bins are 0.
  void SetDefaultCount(const THistogramCounts &Counts);
  // The processed picture's histogram.
  void UpdateHistogram(const THistogramCounts &Counts);
  // What the dialog's threads count for the chosen channels: "RGB", "R",
  // "G", "B" 1; "Y", "CbCr" 2; "L" 4.
  int32_t GetHistogramMode() const;
  // Channel and scale into the option record.
  void SaveOption();

  THistogramChannel Channel() const;
  void SetChannel(THistogramChannel C);
  bool Logarithmic() const;
  void SetLogarithmic(bool On);
  // The mouse-over text for a level ("Value:%d  %d/%d (%.2f%s)"), empty for
  // the views without one.
  QString ValueText(int32_t Level) const;

  const QImage &BackBuf() const { return FBackBuf; }
  bool IsGrayscale = false;
  uint64_t TotalCount = 0;
  // The dialog's "ヒストグラム" box is unchecked through this when the
  // window is closed.
  std::function<void()> OnClosed;

  QComboBox *ChannelBox = nullptr;
  QComboBox *ScaleBox = nullptr;
  QLabel *ValueLabel = nullptr;
  THistogramCanvas *Canvas = nullptr;

protected:
  void closeEvent(QCloseEvent *E) override;

private:
  friend class THistogramCanvas;
  void Redraw();
  void ChannelChanged();

  TPreviewOption &FOption;
  bool FLabMode = false;
  QWidget *FParentForm = nullptr;
  std::function<void()> FUpdateProc;
  THistogramCounts FDefaultCount{};
  THistogramCounts FHistogramCount{};
  bool FHasProcessed = false;
  int32_t FLastMode = 1;
  QImage FBackBuf;
};
