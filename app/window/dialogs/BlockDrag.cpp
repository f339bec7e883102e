// Dragging a text or composite block over the preview.
#include "app/window/dialogs/BlockDrag.h"

#include "app/window/preview/PreviewForm.h"
#include "batch/ImageInfo.h"

#include <QCheckBox>
#include <QSpinBox>

#include <algorithm>

void TBlockDrag::Attach(TPreviewForm *Window, std::function<void(int Dx, int Dy)> OnMoved) {
  FWindow = Window;
  FOnMoved = std::move(OnMoved);
  FWindow->SetOnChangeSelectRect([this](const QRect &S) { SelectionChanged(S); });
}

void TBlockDrag::SetBlock(const QRect &Block) {
  FBlock = Block;
  if (FWindow) FWindow->SetSelectRect(Block);
}

void TBlockDrag::SelectionChanged(const QRect &S) {
  if (S.size() != FBlock.size() || FBlock.isEmpty()) {
    if (FWindow) FWindow->SetSelectRect(FBlock);
    return;
  }
  const int dx = S.left() - FBlock.left(), dy = S.top() - FBlock.top();
  if (dx == 0 && dy == 0) return;
  FBlock = S;
  if (FOnMoved) FOnMoved(dx, dy);
}

QRect PictureRectOfStored(const QRect &Stored, int32_t Height) {
  return QRect(Stored.left(), Height - Stored.top() - Stored.height(), Stored.width(), Stored.height());
}

TBlockPreviewForm::TBlockPreviewForm(const TPreviewContext &Ctx, QWidget *Parent) : TPreviewBaseForm(Ctx, Parent) {
  PreviewBox = new QCheckBox(QStringLiteral("プレビュー"), this);
  PreviewBox->setChecked(true);
  connect(PreviewBox, &QCheckBox::toggled, this, [this](bool On) {
    if (On && DestImage()) {
      PreviewWindow()->show();
      RequestPreview();
    } else {
      PreviewWindow()->hide();
    }
  });
}

TBlockPreviewForm::~TBlockPreviewForm() { StopPreviewThreads(); }

void TBlockPreviewForm::PreviewClosed() { PreviewBox->setChecked(false); }

bool TBlockPreviewForm::IsPreviewEnabled() const { return PreviewBox->isChecked(); }

void TBlockPreviewForm::StartPreview(QSpinBox *X, QSpinBox *Y) {
  FDrag.Attach(PreviewWindow(), [this, X, Y](int Dx, int Dy) {
    {
      const QSignalBlocker bx(X), by(Y);
      X->setValue(X->value() + Dx);
      Y->setValue(Y->value() + Dy);
    }
    RequestPreview();
  });
  const TPreviewContext &Ctx = Context();
  if (Ctx.List && Ctx.List->Count() > 0)
    SetPreviewImageIndex(std::clamp(Ctx.SelectedIndex, 0, Ctx.List->Count() - 1));
}
