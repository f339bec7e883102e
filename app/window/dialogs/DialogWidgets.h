// Small pieces the geometry and tone dialogs share: a scroll bar paired
// with its edit field, and the wiring of a dialog's "プレビュー" and
// "ヒストグラム" boxes to its windows.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"

#include <QWidget>

#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QScrollBar;
class QLabel;

// A labelled scroll bar with its edit field. The field shows the value the
// scroll position maps to; a value typed into the field moves the scroll
// bar without being rewritten.
class TScrollField : public QWidget {
  Q_OBJECT
public:
  TScrollField(const QString &Caption, int32_t Min, int32_t Max, QWidget *Parent = nullptr);
  // How a position is shown in the field and how a field text goes back to
  // a position (false: not a value); the defaults are the plain integer.
  std::function<QString(int32_t)> Format;
  std::function<bool(const QString &, int32_t &)> Parse;
  void SetText(const QString &Text);  // shows Text and moves the bar to it
  QString Text() const;
  std::function<void()> OnChanged;

  QLabel *Label = nullptr;
  QScrollBar *Bar = nullptr;
  QLineEdit *Edit = nullptr;

private:
  bool FSettingText = false;
};

// Loads the entry selected in the main window (the first when none is) into
// the dialog's preview; nothing for an empty list.
void LoadSelectedEntry(TPreviewBaseForm &Form, const TPreviewContext &Ctx);
// "プレビュー" shows or hides the preview window (and asks for a preview);
// "ヒストグラム" (may be null) the histogram window, which unchecks it when closed.
void WirePreviewBoxes(TPreviewBaseForm &Form, QCheckBox *Preview, QCheckBox *Histogram);

// The value type list, the condition list ("W >= H  or  W < H",
// "W > H  or  W <= H", "ALL") and the landscape and portrait fields of the
// trimming and margin dialogs, in the first four rows of a grid.
struct TValueFieldRows {
  QComboBox *TypeBox = nullptr, *ExpBox = nullptr;
  QLabel *LandscapeLabel = nullptr, *PortraitLabel = nullptr;
  QLineEdit *LandscapeEdit = nullptr, *PortraitEdit = nullptr;
};
TValueFieldRows AddValueFieldRows(QWidget *Parent, QGridLayout *Grid, const QStringList &Types);
// Choosing a value type fills both fields with DefaultText(Type); a type or
// a condition chosen (the fields relabelled first) asks for a preview.
void WireValueFieldRows(TPreviewBaseForm &Form, const TValueFieldRows &Rows,
                        std::function<QString(int Type)> DefaultText);
// Labels the fields by the condition and hides the portrait one for "ALL".
void ShowCondition(const TValueFieldRows &Rows);
// The picture size the fields are checked with: the preview's, else 1000 x 1000.
void FieldCheckSize(const TPreviewBaseForm &Form, int32_t &w, int32_t &h);

// Registers the dialog TForm for the effect class TEffectClass: opened
// modally on the effect; OK stores into it.
template <class TForm, class TEffectClass>
TEffectDialogRegistrar DialogRegistrar(uint32_t EffectID) {
  return TEffectDialogRegistrar(EffectID, [](TEffect &E, const TPreviewContext &Ctx, QWidget *Parent) {
    auto *Effect = dynamic_cast<TEffectClass *>(&E);
    if (!Effect) return;
    TForm F(*Effect, Ctx, Parent);
    F.exec();
  });
}
