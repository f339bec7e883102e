// The combining settings dialog "画像連結の設定": a thin window over the
// GUI-free TCombineOptionForm, which holds the controls' values, the label
// switch of "サイズ指定" and the checks made on OK. The numbers are the
// option dialogs' numeric fields held to the dialog's ranges; the colour
// dialog carries the program's custom colours, which the dialog's OK stores
// back.
#pragma once

#include "app/window/dialogs/ColorChoice.h"
#include "batch/CombineOption.h"

#include <QDialog>

#include <array>

class QButtonGroup;
class QComboBox;
class QLabel;
class TNumEdit;
class QPushButton;

class TCombineOptionDialog : public QDialog {
  Q_OBJECT
public:
  // Palette: the colour dialog's custom colours (TSystemOption.CustomPalette).
  TCombineOptionDialog(const TCombineOption &Option, const std::array<int32_t, 16> &Palette,
                       QWidget *Parent = nullptr);
  // After OK: the values into Option (false when a field was refused; the
  // dialog then stays open with the reason shown).
  bool StoreTo(TCombineOption &Option);
  // After OK: the custom colours as the colour dialog left them.
  const std::array<int32_t, 16> &Palette() const { return FColorChoice.Pending(); }

  QComboBox *OrderBox = nullptr;         // "連結方法"
  QButtonGroup *BlankGroup = nullptr;    // "余白あり", "余白なし(サイズ固定)", "余白なし"
  QComboBox *SizeBox = nullptr;          // "サイズ指定"
  QLabel *FirstLabel = nullptr, *FirstUnit = nullptr, *SecondLabel = nullptr, *SecondUnit = nullptr;
  TNumEdit *FirstEdit = nullptr, *SecondEdit = nullptr;  // 幅 (or 倍率) and 高さ, 1 to 9999
  TNumEdit *RowsEdit = nullptr, *ColumnsEdit = nullptr;    // 横, 縦: 1 to 99, with arrows
  TNumEdit *RowSpaceEdit = nullptr, *ColumnSpaceEdit = nullptr;  // 間隔: 0 to 99
  TColorButton *ColorButton = nullptr;   // "背景色"
  QLabel *Message = nullptr;             // why OK was refused

  void accept() override;
  TCombineOptionForm &Form() { return FForm; }

private:
  void ToForm();
  void FromForm();
  TCombineOptionForm FForm;
  std::array<int32_t, 16> FPalette{};
  TColorChoice FColorChoice{FPalette};
};

// Opens the dialog on the program-wide record and custom colours; OK stores
// into both.
bool ShowCombineOptionDialog(QWidget *Parent);
