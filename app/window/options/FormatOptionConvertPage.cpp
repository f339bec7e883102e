// The conversion-table page "フォーマット変換設定": one row per table row,
// the inputs on the left, the output chosen from a pick list on the right.
#include "app/window/options/FormatOptionForm.h"

#include "batch/FileNameTemplate.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString U(const char *S) { return QString::fromUtf8(S); }

}  // namespace

TPictureFormatPage::TPictureFormatPage(const TFormatOptionPlace &Place, QWidget *Parent)
    : TFormatPage(QStringLiteral("フォーマット変換設定"), Place, Parent), FForm(ConvertTable) {
  auto *L = new QVBoxLayout(this);
  Table = new QTableWidget(0, 2, this);
  Table->setHorizontalHeaderLabels({QStringLiteral("入力ファイルの拡張子"), QStringLiteral("出力フォーマット")});
  Table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  Table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  Table->verticalHeader()->hide();
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setSelectionMode(QAbstractItemView::SingleSelection);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  L->addWidget(Table);
  auto *Buttons = new QHBoxLayout;
  AddButton = new QPushButton(QStringLiteral("追加"), this);
  EditButton = new QPushButton(QStringLiteral("編集"), this);
  DeleteButton = new QPushButton(QStringLiteral("削除"), this);
  Buttons->addStretch(1);
  for (QPushButton *B : {AddButton, EditButton, DeleteButton}) Buttons->addWidget(B);
  L->addLayout(Buttons);
  ShowRows();
  SelectRow(0);
  connect(AddButton, &QPushButton::clicked, this, &TPictureFormatPage::AddRow);
  connect(EditButton, &QPushButton::clicked, this, &TPictureFormatPage::EditRow);
  connect(DeleteButton, &QPushButton::clicked, this, &TPictureFormatPage::DeleteRow);
  connect(Table, &QTableWidget::currentCellChanged, this, &TPictureFormatPage::ApplyEnabling);
}

void TPictureFormatPage::ShowRows() {
  Table->setRowCount(int(FForm.Rows.size()));
  for (size_t r = 0; r < FForm.Rows.size(); ++r) {
    const TPictureFormatForm::TRow &Row = FForm.Rows[r];
    Table->setItem(int(r), 0, new QTableWidgetItem(QString::fromStdString(Row.Inputs)));
    // The output cell is a pick list that cannot be typed into; "不明" is
    // offered only to a row that has it.
    auto *Pick = new QComboBox(Table);
    for (const char *Name : TPictureFormatForm::FormatList) Pick->addItem(U(Name));
    if (Row.Output < 0) Pick->addItem(U(TPictureFormatForm::UnknownFormat));
    Pick->setCurrentIndex(Row.Output < 0 ? Pick->count() - 1 : Row.Output);
    connect(Pick, &QComboBox::currentIndexChanged, this, [this, Pick](int Index) {
      for (int i = 0; i < Table->rowCount(); ++i)
        if (Table->cellWidget(i, 1) == Pick)
          FForm.Rows[size_t(i)].Output = Index < int(TPictureFormatForm::FormatList.size()) ? Index : -1;
    });
    Table->setCellWidget(int(r), 1, Pick);
  }
  ApplyEnabling();
}

void TPictureFormatPage::SelectRow(int Row) {
  Table->setCurrentCell(Row, Row < 0 ? -1 : 0);
  ApplyEnabling();
}

void TPictureFormatPage::ApplyEnabling() {
  const bool Can = FForm.CanEditOrDelete(Table->currentRow());
  EditButton->setEnabled(Can);
  DeleteButton->setEnabled(Can);
}

void TPictureFormatPage::AddRow() {
  QString Answer;
  if (!FPlace.InputBox(QStringLiteral("拡張子の設定"), QStringLiteral("追加登録する入力ファイルの拡張子"), Answer)) return;
  std::string Warning;
  const int32_t Row = FForm.Add(Answer.toStdString(), Warning);
  if (!Warning.empty()) {
    FPlace.Warn(QString::fromStdString(Warning));
    return;
  }
  if (Row < 0) return;
  ShowRows();
  SelectRow(Row);
  Table->cellWidget(Row, 1)->setFocus();
}

void TPictureFormatPage::EditRow() {
  const int Row = Table->currentRow();
  if (!FForm.CanEditOrDelete(Row)) return;
  QString Answer = QString::fromStdString(FForm.Rows[size_t(Row)].Inputs);
  if (!FPlace.InputBox(QStringLiteral("拡張子の設定"), QStringLiteral("入力ファイルの拡張子"), Answer)) return;
  if (FForm.Edit(Row, Answer.toStdString())) Table->item(Row, 0)->setText(Answer);
}

void TPictureFormatPage::DeleteRow() {
  const int Row = Table->currentRow();
  if (!FForm.CanEditOrDelete(Row)) return;
  const int32_t Next = FForm.Delete(Row);
  ShowRows();
  SelectRow(Next);
}

void TPictureFormatPage::Store() {
  ConvertTable = FForm.Store();
  RebuildConvertMap();
}
