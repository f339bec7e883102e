// The combining settings dialog.
#include "app/window/CombineOptionDialog.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QString Q(const std::string &S) { return QString::fromStdString(S); }

// 0x00BBGGRR to a colour and back.
QColor ColorOf(uint32_t C) { return QColor(int(C & 0xFF), int((C >> 8) & 0xFF), int((C >> 16) & 0xFF)); }
uint32_t ColorRefOf(const QColor &C) { return uint32_t(C.red()) | uint32_t(C.green()) << 8 | uint32_t(C.blue()) << 16; }

}  // namespace

TCombineOptionDialog::TCombineOptionDialog(const TCombineOption &Option, QWidget *Parent)
    : QDialog(Parent), FForm(Option) {
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
  FirstEdit = new QLineEdit(this);
  FirstUnit = new QLabel(this);
  Grid->addWidget(FirstLabel, Row, 0);
  Grid->addWidget(FirstEdit, Row, 1);
  Grid->addWidget(FirstUnit, Row++, 2);
  SecondLabel = new QLabel(QStringLiteral("高さ"), this);
  SecondEdit = new QLineEdit(this);
  SecondUnit = new QLabel(QStringLiteral("px"), this);
  Grid->addWidget(SecondLabel, Row, 0);
  Grid->addWidget(SecondEdit, Row, 1);
  Grid->addWidget(SecondUnit, Row++, 2);
  RowsEdit = new QLineEdit(this);
  RowSpaceEdit = new QLineEdit(this);
  ColumnsEdit = new QLineEdit(this);
  ColumnSpaceEdit = new QLineEdit(this);
  Grid->addWidget(new QLabel(QStringLiteral("横"), this), Row, 0);
  Grid->addWidget(RowsEdit, Row, 1);
  Grid->addWidget(new QLabel(QStringLiteral("間隔"), this), Row, 2);
  Grid->addWidget(RowSpaceEdit, Row++, 3);
  Grid->addWidget(new QLabel(QStringLiteral("縦"), this), Row, 0);
  Grid->addWidget(ColumnsEdit, Row, 1);
  Grid->addWidget(new QLabel(QStringLiteral("間隔"), this), Row, 2);
  Grid->addWidget(ColumnSpaceEdit, Row++, 3);
  Grid->addWidget(new QLabel(QStringLiteral("背景色"), this), Row, 0);
  ColorButton = new QPushButton(this);
  ColorButton->setFixedSize(48, 22);
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
  connect(ColorButton, &QPushButton::clicked, this, [this] {
    QColorDialog Dialog(ColorOf(FForm.Color), this);
    // The custom colours start white, as the stored palette does.
    for (int i = 0; i < QColorDialog::customCount(); ++i) QColorDialog::setCustomColor(i, Qt::white);
    if (Dialog.exec() == QDialog::Accepted) {
      FForm.Color = ColorRefOf(Dialog.selectedColor()) & 0xFFFFFF;
      ShowColor();
    }
  });
  ToForm();
}

void TCombineOptionDialog::ToForm() {
  OrderBox->setCurrentIndex(FForm.Order);
  if (QAbstractButton *B = BlankGroup->button(FForm.BlankType)) B->setChecked(true);
  SizeBox->setCurrentIndex(FForm.RelativeSize);
  FirstLabel->setText(Q(FForm.FirstEditLabel()));
  FirstUnit->setText(Q(FForm.FirstEditUnit()));
  FirstEdit->setText(Q(FForm.FirstEdit));
  SecondEdit->setText(Q(FForm.SecondEdit));
  for (QWidget *W : {static_cast<QWidget *>(SecondLabel), static_cast<QWidget *>(SecondEdit),
                     static_cast<QWidget *>(SecondUnit)})
    W->setVisible(FForm.SecondEditVisible());
  RowsEdit->setText(Q(FForm.RowsEdit));
  ColumnsEdit->setText(Q(FForm.ColumnsEdit));
  RowSpaceEdit->setText(Q(FForm.RowSpaceEdit));
  ColumnSpaceEdit->setText(Q(FForm.ColumnSpaceEdit));
  ShowColor();
}

void TCombineOptionDialog::FromForm() {
  FForm.Order = OrderBox->currentIndex();
  FForm.BlankType = std::max(0, BlankGroup->checkedId());
  FForm.FirstEdit = FirstEdit->text().toStdString();
  FForm.SecondEdit = SecondEdit->text().toStdString();
  FForm.RowsEdit = RowsEdit->text().toStdString();
  FForm.ColumnsEdit = ColumnsEdit->text().toStdString();
  FForm.RowSpaceEdit = RowSpaceEdit->text().toStdString();
  FForm.ColumnSpaceEdit = ColumnSpaceEdit->text().toStdString();
}

void TCombineOptionDialog::ShowColor() {
  ColorButton->setStyleSheet(QStringLiteral("background-color: %1").arg(ColorOf(FForm.Color).name()));
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
  TCombineOptionDialog Dialog(CombineOption, Parent);
  return Dialog.exec() == QDialog::Accepted && Dialog.StoreTo(CombineOption);
}
