// What the sharpen, noise-removal and colour dialogs share: a spin box with
// its range and value, and the opener that shows a dialog modally over its
// effect's record (the dialog copies the record in and, on OK, back).
#pragma once

#include "app/window/preview/PreviewBaseForm.h"

#include <QSpinBox>

#include <type_traits>

inline QSpinBox *RangedSpinBox(int Min, int Max, int Value) {
  auto *S = new QSpinBox;
  S->setRange(Min, Max);
  S->setValue(Value);
  return S;
}

// The opener of TForm over an effect of class TRecord; a dialog without a
// preview is made without the context.
template <class TForm, class TRecord>
TEffectDialogOpener ModalDialogOpener() {
  return [](TEffect &E, const TPreviewContext &Ctx, QWidget *Parent) {
    auto *Record = dynamic_cast<TRecord *>(&E);
    if (!Record) return;
    if constexpr (std::is_constructible_v<TForm, TRecord &, const TPreviewContext &, QWidget *>) {
      TForm Form(*Record, Ctx, Parent);
      Form.exec();
    } else {
      TForm Form(*Record, Parent);
      Form.exec();
    }
  };
}
