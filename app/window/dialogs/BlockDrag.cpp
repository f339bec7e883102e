// Dragging a text or composite block over the preview.
#include "app/window/dialogs/BlockDrag.h"

#include "app/window/preview/PreviewForm.h"

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
