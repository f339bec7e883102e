// The combining settings dialog "画像連結の設定": a thin window over the
// GUI-free TCombineOptionForm, which holds the controls' values, the label
// switch of "サイズ指定" and the checks made on OK.
#pragma once

#include "batch/CombineOption.h"

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TCombineOptionDialog : public QDialog {
  Q_OBJECT
public:
  TCombineOptionDialog(const TCombineOption &Option, QWidget *Parent = nullptr);
  // After OK: the values into Option (false when a field was refused; the
  // dialog then stays open with the reason shown).
  bool StoreTo(TCombineOption &Option);

  QComboBox *OrderBox = nullptr;         // "連結方法"
  QButtonGroup *BlankGroup = nullptr;    // "余白あり", "余白なし(サイズ固定)", "余白なし"
  QComboBox *SizeBox = nullptr;          // "サイズ指定"
  QLabel *FirstLabel = nullptr, *FirstUnit = nullptr, *SecondLabel = nullptr, *SecondUnit = nullptr;
  QLineEdit *FirstEdit = nullptr, *SecondEdit = nullptr;
  QLineEdit *RowsEdit = nullptr, *ColumnsEdit = nullptr, *RowSpaceEdit = nullptr, *ColumnSpaceEdit = nullptr;
  QPushButton *ColorButton = nullptr;    // "背景色"
  QLabel *Message = nullptr;             // why OK was refused

  void accept() override;
  TCombineOptionForm &Form() { return FForm; }

private:
  void ToForm();
  void FromForm();
  void ShowColor();
  TCombineOptionForm FForm;
};

// Opens the dialog on the program-wide record; OK stores into it.
bool ShowCombineOptionDialog(QWidget *Parent);
