// The combining settings dialog.
#include "app/window/CombineOptionDialog.h"

#include "app/window/options/NumEdit.h"
#include "batch/ConvertOption.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString Q(const std::string &S) { return QString::fromStdString(S); }

// A number field of the dialog's range; a text that is no number reads as
// the setting's default, a number beyond the range as its nearest bound.
TNumEdit *NumberField(QWidget *Parent, int32_t Min, int32_t Max, int32_t Default, bool Arrows) {
  const TNumRange Range{Min, Max, 1, Default};
  TNumEdit *Box = Arrows ? new TUDNumEdit(Range, Parent) : new TNumEdit(Range, Parent);
  Box->setMinimumWidth(72);
  return Box;
}

// The form's text of a number as the field's value (clamped by the field).
void ShowNumber(TNumEdit *Box, const std::string &Text) {
  bool Ok = false;
  const int V = QString::fromStdString(Text).trimmed().toInt(&Ok);
  Box->setValue(Ok ? V : Box->minimum());
}

}  // namespace

TCombineOptionDialog::TCombineOptionDialog(const TCombineOption &Option, const std::array<int32_t, 16> &Palette,
                                           QWidget *Parent)
    : QDialog(Parent), FForm(Option), FPalette(Palette) {
  setWindowTitle(QStringLiteral("画像連結の設定"));
  auto *Layout = new QVBoxLayout(this);
  auto *Grid = new QGridLayout;
  int Row = 0;
  Grid->addWidget(new QLabel(QStringLiteral("連結方法"), this), Row, 0);
  OrderBox = new QComboBox(this);
  OrderBox->addItems({QStringLiteral("横優先"), QStringLiteral("縦優先")});
  Grid->addWidget(OrderBox, Row++, 1, 1, 3);
  BlankGroup = new QButtonGroup(this);
  const char *Blanks[] = {"余白あり", "余白なし(サイズ固定)", "余白なし"};
  for (int i = 0; i < 3; ++i) {
    auto *R = new QRadioButton(QString::fromUtf8(Blanks[i]), this);
    BlankGroup->addButton(R, i);
    Grid->addWidget(R, Row++, 1, 1, 3);
  }
  Grid->addWidget(new QLabel(QStringLiteral("サイズ指定"), this), Row, 0);
  SizeBox = new QComboBox(this);
  SizeBox->addItems({QStringLiteral("幅×高さ(px)"), QStringLiteral("比率(%)")});
  Grid->addWidget(SizeBox, Row++, 1, 1, 3);
  FirstLabel = new QLabel(this);
  const TCombineOption Defaults;
  FirstEdit = NumberField(this, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX, Defaults.Width, false);
  FirstUnit = new QLabel(this);
  Grid->addWidget(FirstLabel, Row, 0);
  Grid->addWidget(FirstEdit, Row, 1);
  Grid->addWidget(FirstUnit, Row++, 2);
  SecondLabel = new QLabel(QStringLiteral("高さ"), this);
  SecondEdit = NumberField(this, COMBINE_SIZE_MIN, COMBINE_SIZE_MAX, Defaults.Height, false);
  SecondUnit = new QLabel(QStringLiteral("px"), this);
  Grid->addWidget(SecondLabel, Row, 0);
  Grid->addWidget(SecondEdit, Row, 1);
  Grid->addWidget(SecondUnit, Row++, 2);
  RowsEdit = NumberField(this, COMBINE_COUNT_MIN, COMBINE_COUNT_MAX, Defaults.Rows, true);
  RowSpaceEdit = NumberField(this, COMBINE_SPACE_MIN, COMBINE_SPACE_MAX, Defaults.RowSpace, false);
  ColumnsEdit = NumberField(this, COMBINE_COUNT_MIN, COMBINE_COUNT_MAX, Defaults.Columns, true);
  ColumnSpaceEdit = NumberField(this, COMBINE_SPACE_MIN, COMBINE_SPACE_MAX, Defaults.ColumnSpace, false);
  Grid->addWidget(new QLabel(QStringLiteral("横"), this), Row, 0);
  Grid->addWidget(RowsEdit, Row, 1);
  Grid->addWidget(new QLabel(QStringLiteral("間隔"), this), Row, 2);
  Grid->addWidget(RowSpaceEdit, Row++, 3);
  Grid->addWidget(new QLabel(QStringLiteral("縦"), this), Row, 0);
  Grid->addWidget(ColumnsEdit, Row, 1);
  Grid->addWidget(new QLabel(QStringLiteral("間隔"), this), Row, 2);
  Grid->addWidget(ColumnSpaceEdit, Row++, 3);
  Grid->addWidget(new QLabel(QStringLiteral("背景色"), this), Row, 0);
  ColorButton = new TColorButton(FColorChoice, this);
  Grid->addWidget(ColorButton, Row++, 1);
  Layout->addLayout(Grid);
  Message = new QLabel(this);
  Message->setStyleSheet(QStringLiteral("color: #b00020"));
  Layout->addWidget(Message);
  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Layout->addWidget(Box);
  connect(Box, &QDialogButtonBox::accepted, this, &TCombineOptionDialog::accept);
  connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(SizeBox, &QComboBox::activated, this, [this](int Index) {
    FromForm();
    FForm.SetRelativeSize(Index);
    ToForm();
  });
  connect(ColorButton, &TColorButton::ColorChanged, this, [this](int32_t Color) { FForm.Color = uint32_t(Color) & 0xFFFFFF; });
  ToForm();
}

void TCombineOptionDialog::ToForm() {
  OrderBox->setCurrentIndex(FForm.Order);
  if (QAbstractButton *B = BlankGroup->button(FForm.BlankType)) B->setChecked(true);
  SizeBox->setCurrentIndex(FForm.RelativeSize);
  FirstLabel->setText(Q(FForm.FirstEditLabel()));
  FirstUnit->setText(Q(FForm.FirstEditUnit()));
  ShowNumber(FirstEdit, FForm.FirstEdit);
  ShowNumber(SecondEdit, FForm.SecondEdit);
  for (QWidget *W : {static_cast<QWidget *>(SecondLabel), static_cast<QWidget *>(SecondEdit),
                     static_cast<QWidget *>(SecondUnit)})
    W->setVisible(FForm.SecondEditVisible());
  ShowNumber(RowsEdit, FForm.RowsEdit);
  ShowNumber(ColumnsEdit, FForm.ColumnsEdit);
  ShowNumber(RowSpaceEdit, FForm.RowSpaceEdit);
  ShowNumber(ColumnSpaceEdit, FForm.ColumnSpaceEdit);
  ColorButton->SetColor(int32_t(FForm.Color));
}

void TCombineOptionDialog::FromForm() {
  FForm.Order = OrderBox->currentIndex();
  FForm.BlankType = std::max(0, BlankGroup->checkedId());
  FForm.FirstEdit = std::to_string(FirstEdit->IntValue());
  FForm.SecondEdit = std::to_string(SecondEdit->IntValue());
  FForm.RowsEdit = std::to_string(RowsEdit->IntValue());
  FForm.ColumnsEdit = std::to_string(ColumnsEdit->IntValue());
  FForm.RowSpaceEdit = std::to_string(RowSpaceEdit->IntValue());
  FForm.ColumnSpaceEdit = std::to_string(ColumnSpaceEdit->IntValue());
}

void TCombineOptionDialog::accept() {
  FromForm();
  const std::string Why = FForm.Check();
  if (!Why.empty()) {
    Message->setText(Q(Why));
    return;
  }
  QDialog::accept();
}

bool TCombineOptionDialog::StoreTo(TCombineOption &Option) {
  FromForm();
  return FForm.StoreTo(Option);
}

bool ShowCombineOptionDialog(QWidget *Parent) {
  TCombineOptionDialog Dialog(CombineOption, SystemOption.CustomPalette, Parent);
  if (Dialog.exec() != QDialog::Accepted || !Dialog.StoreTo(CombineOption)) return false;
  SystemOption.CustomPalette = Dialog.Palette();
  return true;
}
