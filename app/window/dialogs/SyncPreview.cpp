// Synchronous previews of the size-changing steps.
#include "app/window/dialogs/SyncPreview.h"

#include "app/window/preview/PreviewForm.h"
#include "app/window/preview/PreviewSource.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "core/PixelConvert.h"
#include "effects/Effect.h"

#include <algorithm>

TSyncPreview::TSyncPreview()
    : FEngines(std::make_unique<TPreviewEngines>(std::max(1, SystemOption.ProcessorCount))) {}

TSyncPreview::~TSyncPreview() = default;

void TSyncPreview::Show(TPreviewBaseForm &Form, const std::function<void(TICCImgInfo &, TEffectParams &)> &Step) {
  const TICCImgInfo *Master = Form.Master();
  if (!Master || !Form.IsPreviewEnabled()) return;
  TICCImgOwner Img;
  CopyPreviewImage(*Master, *Img);
  const TRunSettings Settings = CurrentRunSettings();
  TEffectParams Params;
  FEngines->Set->Bind(Params);
  Params.MT = FEngines->MT.get();
  Params.Preview = true;
  Params.Settings = &Settings;
  Params.DownScale = 1;
  try {
    Step(*Img, Params);
  } catch (const std::exception &) {
    // The values do not evaluate for this picture (the dialog's OK says
    // so): the source stays what is shown.
    Img.Release();
    CopyPreviewImage(*Master, *Img);
  }
  ConvertTo8Bit(*Img, false, DITHER_NONE);
  FEngines->ToMonitor(*Img);
  TICCImgOwner Fitted;
  FitPreviewImage(*Img, *Fitted, Form.PreviewWindow()->GetClientSize(), *FEngines);
  Form.UpdatePreview(*Img);
  Form.UpdateAllPreview(*Fitted);
}
