// The noise-removal dialog "ノイズ除去": the strength preset or, with
// "詳細設定", the luma level strengths, spreads and radii and their chroma
// counterparts, and a view of its own beside the controls. The view shows
// a section of the picture (as it reaches the step) zoomed 100 % to 400 %,
// one denoised component (Y, Cb, Cr), or the noise one luma level removes;
// dragging moves the section. A background thread renders the view; a
// newer request makes a running rendering's result be dropped. Thin over
// TDenoiseEffect: copied in on opening, back on OK only.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "effects/DenoisePass.h"

#include <QDialog>
#include <QImage>
#include <QLabel>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QSpinBox;
class TDenoiseEffect;
class TDenoiseViewWorker;
class TPreviewEngines;

inline constexpr const char *DENOISE_FORM_CAPTION = "ノイズ除去";

// The view area: the rendered section, centred, and dragging reported in
// screen pixels.
class TDenoiseViewArea : public QLabel {
  Q_OBJECT
public:
  explicit TDenoiseViewArea(QWidget *Parent = nullptr);
  std::function<void(QPoint Delta, bool Done)> OnDrag;

protected:
  void mousePressEvent(QMouseEvent *E) override;
  void mouseMoveEvent(QMouseEvent *E) override;
  void mouseReleaseEvent(QMouseEvent *E) override;

private:
  bool FDragging = false;
  QPoint FLast;
};

class TDenoiseForm : public QDialog {
  Q_OBJECT
public:
  TDenoiseForm(TDenoiseEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TDenoiseForm() override;

  // The filter values the controls give now (the preset of "強さ" unless
  // "詳細設定" is on).
  TDenoiseValues Values() const;
  // Index into DenoiseViewNames of the chosen view.
  int32_t View() const;
  // Centre of the section, in picture pixels (rows from the top).
  QPoint Centre() const { return FCentre; }
  void SetCentre(QPoint P);
  // Asks the thread for the view of the controls as they are now.
  void RequestView();
  // Test hooks: runs the event loop until the newest request's view is
  // shown (false after TimeoutMs without it); the picture shown then, at
  // the section's own size.
  bool WaitForView(int TimeoutMs = 20000);
  const QImage &ShownView() const { return FShown; }
  int32_t ShownCount() const { return FShownCount; }
  // Runs on the view thread once it has taken a request, before rendering it.
  void SetBeforeRender(std::function<void()> Hook);
  // Null while nothing is loaded.
  const TICCImgInfo *Master() const;

  QSpinBox *StrEdit = nullptr;               // "強さ"
  QCheckBox *AdvancedCheck = nullptr;        // "詳細設定"
  QGroupBox *AdvancedPanel = nullptr;
  std::array<QSpinBox *, 5> LevelEdit = {};  // "輝度Lv0" .. "輝度Lv4"
  QSpinBox *LumaSigma2Edit = nullptr;        // "輝度分散2"
  QSpinBox *LumaRadiusEdit = nullptr;        // "輝度半径"
  QSpinBox *ChromaEdit = nullptr;            // "色差分散"
  QSpinBox *ChromaSigma2Edit = nullptr;      // "色差分散2"
  QSpinBox *ChromaRadiusEdit = nullptr;      // "色差半径"
  QCheckBox *PreviewCheck = nullptr;         // "プレビュー"
  QComboBox *ViewBox = nullptr;              // the view list
  TDenoiseViewArea *ViewArea = nullptr;

  void accept() override;

private:
  void LoadSource(int32_t Index);
  void ShowValues(const TDenoiseValues &V);
  void AdvancedChanged();
  void Delivered(uint64_t Generation, const QImage &Image, int32_t Zoom);
  TDenoiseEffect &FEffect;
  TPreviewContext FCtx;
  // The advanced values as edited; shown while "詳細設定" is on.
  TDenoiseValues FAdvanced;
  std::unique_ptr<TPreviewEngines> FEngines;  // loading, on the GUI thread
  TICCImgOwner FMaster;
  QPoint FCentre;
  std::unique_ptr<TDenoiseViewWorker> FWorker;
  std::atomic<uint64_t> FGeneration{0};
  uint64_t FShownGeneration = 0;
  QImage FShown;
  int32_t FShownCount = 0;
  bool FShowingValues = false;
};
