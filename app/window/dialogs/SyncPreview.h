// The preview of a step that changes the picture's size (rotation, margins):
// computed at once on the dialog's thread with engines of its own, since a
// spot of the source does not map onto a spot of the result.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"

#include <functional>
#include <memory>

class TPreviewEngines;

class TSyncPreview {
public:
  TSyncPreview();
  ~TSyncPreview();
  // Runs Step on a copy of the dialog's source and shows the result, full
  // size and fitted into the preview window; nothing without a source or
  // with the preview off. A failing step is shown as the unchanged source.
  void Show(TPreviewBaseForm &Form, const std::function<void(TICCImgInfo &, TEffectParams &)> &Step);

private:
  std::unique_ptr<TPreviewEngines> FEngines;
};
