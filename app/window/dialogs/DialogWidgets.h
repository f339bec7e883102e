// Small pieces the geometry and tone dialogs share: a scroll bar paired
// with its edit field, and the wiring of a dialog's "プレビュー" and
// "ヒストグラム" boxes to its windows.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"

#include <QWidget>

#include <cstdint>
#include <functional>

class QCheckBox;
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
