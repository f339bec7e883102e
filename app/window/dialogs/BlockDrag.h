// The block the text and composite dialogs let the user drag over the
// preview: the text block, or the overlay (in "背景画像" mode the picture over
// the file). It is shown as the preview window's selection rectangle; moving
// the selection by (Dx, Dy) picture pixels moves the block's offsets by the
// same, and any other change of the selection (a new one, an edge pulled)
// puts the block's rectangle back, since the block's size is the effect's.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "core/ImgInfo.h"

#include <QRect>

#include <functional>

class QCheckBox;
class QSpinBox;
class TPreviewForm;

class TBlockDrag {
public:
  // Takes over Window's selection; OnMoved gets each move.
  void Attach(TPreviewForm *Window, std::function<void(int Dx, int Dy)> OnMoved);
  // The block in picture coordinates (rows from the top); shows it.
  void SetBlock(const QRect &Block);
  QRect Block() const { return FBlock; }

private:
  void SelectionChanged(const QRect &S);

  TPreviewForm *FWindow = nullptr;
  std::function<void(int, int)> FOnMoved;
  QRect FBlock;
};

// The picture position (rows from the top) of a rectangle of stored rows
// (bottom-up) of a picture Height rows high.
QRect PictureRectOfStored(const QRect &Stored, int32_t Height);

// The base of the text and composite dialogs: a preview dialog whose block
// can be dragged in the preview window, its X and Y fields following the
// drag, and whose "プレビュー" box shows and hides the preview window.
class TBlockPreviewForm : public TPreviewBaseForm {
  Q_OBJECT
public:
  TBlockPreviewForm(const TPreviewContext &Ctx, QWidget *Parent = nullptr);
  ~TBlockPreviewForm() override;

  void PreviewClosed() override;
  bool IsPreviewEnabled() const override;

  QCheckBox *PreviewBox;  // made here, placed by the dialog

protected:
  // Once the dialog's controls exist: a drag moves X and Y, and the entry
  // selected in the main window is loaded.
  void StartPreview(QSpinBox *X, QSpinBox *Y);

  TBlockDrag FDrag;
};
