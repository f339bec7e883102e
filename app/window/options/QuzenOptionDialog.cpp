// The lossless-JPEG dialog.
#include "app/window/options/QuzenOptionDialog.h"

#include "app/window/options/SegmentInfoDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>

namespace {

QString Q(const char *S) { return QString::fromUtf8(S); }
QString Q(const std::string &S) { return QString::fromStdString(S); }

bool IsOn(LongBool B) { return B != LongFalse; }
LongBool LongOf(const QCheckBox *C) { return C->isChecked() ? LongTrue : LongFalse; }

QComboBox *Choices(QWidget *Parent, std::initializer_list<const char *> Items, int32_t Value) {
  auto *Box = new QComboBox(Parent);
  for (const char *I : Items) Box->addItem(Q(I));
  // A stored value outside the choices shows the first one.
  Box->setCurrentIndex(Value >= 0 && Value < Box->count() ? Value : 0);
  return Box;
}

// A filter in the "description|patterns|..." notation as Qt's file dialog
// takes it: the descriptions carry their patterns in brackets.
QString QtFilter(const char *Filter) {
  const QStringList Parts = Q(Filter).split(QLatin1Char('|'));
  QStringList Out;
  for (qsizetype i = 0; i < Parts.size(); i += 2) Out << Parts[i];
  return Out.join(QStringLiteral(";;"));
}

constexpr const char *IMPORT_FILTERS[2] = {"Exif Data (*.dat)|*.dat|すべてのファイル (*.*)|*.*",
                                          "ICC Profile (*.icc)|*.icc|すべてのファイル (*.*)|*.*"};

}  // namespace

TQuzenOptionDialog::TQuzenOptionDialog(const TWembSettings &Settings, QWidget *Parent)
    : QDialog(Parent), FForm(Settings) {
  setWindowTitle(Q(QUZEN_DIALOG_CAPTION));
  const TWembOption &O = FForm.Option;
  auto *Layout = new QVBoxLayout(this);
  auto *Columns = new QHBoxLayout;
  Layout->addLayout(Columns);

  auto *Left = new QVBoxLayout;
  Columns->addLayout(Left);
  auto *Grid = new QGridLayout;
  RotationBox = Choices(this, {"なし", "自動", "90", "180", "270", "左右反転", "上下反転"}, O.Rotation);
  OrientationBox = Choices(this, {"変更しない", "1", "2", "3", "4", "5", "6", "7", "8"}, O.ExifOrientation);
  ICCRevisionBox = Choices(this, {"なし", "色調補正", "トーンカーブ"}, O.ICCProfileRevision);
  GrayscaleBox = Choices(this, {"なし", "ALL", "自動"}, O.Grayscale);
  OptimizeBox =
      Choices(this, {"なし", "ベースラインJPEG", "プログレッシブJPEG", "サイズが小さくなる方"}, O.OptimizeMode);
  int Row = 0;
  for (const auto &[Caption, Box] : {std::pair{"回転・反転", RotationBox}, std::pair{"Exif・Orientation", OrientationBox},
                                     std::pair{"ICCプロファイル補正", ICCRevisionBox},
                                     std::pair{"グレースケール化", GrayscaleBox}, std::pair{"最適化", OptimizeBox}}) {
    Grid->addWidget(new QLabel(Q(Caption), this), Row, 0);
    Grid->addWidget(Box, Row++, 1);
  }
  Left->addLayout(Grid);
  auto *Steps = new QHBoxLayout;
  TrimmingCheck = new QCheckBox(Q("トリミング"), this);
  AddTextCheck = new QCheckBox(Q("文字入れ"), this);
  TrimmingCheck->setChecked(IsOn(O.Trimming));
  AddTextCheck->setChecked(IsOn(O.AddText));
  Steps->addWidget(TrimmingCheck);
  Steps->addWidget(AddTextCheck);
  Steps->addStretch(1);
  Left->addLayout(Steps);

  auto *Exif = new QGroupBox(Q("Exif"), this);
  auto *ExifLayout = new QVBoxLayout(Exif);
  const std::pair<QCheckBox **, std::pair<const char *, LongBool>> ExifBoxes[] = {
      {&DeleteThumbnailCheck, {"Exif内のサムネイルを削除する", O.DeleteExifThumbnail}},
      {&UpdateThumbnailCheck, {"Exif内のサムネイルを更新する", O.UpdateExifThumbnail}},
      {&DeleteMakerNoteCheck, {"メーカーノートを削除する", O.DeleteMakerNote}},
      {&DeleteGPSCheck, {"GPS情報を削除する", O.DeleteGPSInfoIFD}}};
  for (const auto &[Check, What] : ExifBoxes) {
    *Check = new QCheckBox(Q(What.first), Exif);
    (*Check)->setChecked(IsOn(What.second));
    ExifLayout->addWidget(*Check);
  }
  Left->addWidget(Exif);

  auto *Files = new QGroupBox(Q("エクスポート・インポート"), this);
  auto *FilesGrid = new QGridLayout(Files);
  const std::pair<const char *, std::pair<LongBool, std::string>> FileFields[] = {
      {"Exif情報のエクスポート", {O.ExifExport, O.ExifExportName}},
      {"ICCプロファイルのエクスポート", {O.ICCExport, O.ICCExportName}},
      {"Exif情報のインポート", {O.ExifImport, O.ExifImportName}},
      {"ICCプロファイルのインポート", {O.ICCImport, O.ICCImportName}}};
  for (int i = 0; i < 4; ++i) {
    FileChecks[size_t(i)] = new QCheckBox(Q(FileFields[i].first), Files);
    FileChecks[size_t(i)]->setChecked(IsOn(FileFields[i].second.first));
    FileEdits[size_t(i)] = new QLineEdit(Q(FileFields[i].second.second), Files);
    FileEdits[size_t(i)]->setMinimumWidth(200);
    FilesGrid->addWidget(FileChecks[size_t(i)], i, 0);
    FilesGrid->addWidget(FileEdits[size_t(i)], i, 1);
    if (i >= 2) {
      auto *B = new QPushButton(Q("..."), Files);
      B->setFixedWidth(32);
      ImportButtons[size_t(i - 2)] = B;
      FilesGrid->addWidget(B, i, 2);
      connect(B, &QPushButton::clicked, this, [this, i] { ChooseImportFile(i - 2); });
    }
  }
  Left->addWidget(Files);
  Left->addStretch(1);

  auto *Segments = new QGroupBox(Q("セグメント"), this);
  auto *Right = new QVBoxLayout(Segments);
  Columns->addWidget(Segments, 1);
  DeleteModeButton = new QRadioButton(Q("任意のセグメントを削除する"), Segments);
  ProtectModeButton = new QRadioButton(Q("任意のセグメントを保護する"), Segments);
  (FForm.DeleteMode() == 1 ? ProtectModeButton : DeleteModeButton)->setChecked(true);
  Right->addWidget(DeleteModeButton);
  Right->addWidget(ProtectModeButton);
  SegmentList = new QTreeWidget(Segments);
  SegmentList->setHeaderLabels({Q("マーカー"), Q("ヘッダー")});
  SegmentList->setRootIsDecorated(false);
  SegmentList->setMinimumSize(260, 220);
  SegmentList->header()->resizeSection(0, 110);
  Right->addWidget(SegmentList, 1);
  auto *ListButtons = new QHBoxLayout;
  AddButton = new QPushButton(Q("追加"), Segments);
  EditButton = new QPushButton(Q("編集"), Segments);
  DeleteButton = new QPushButton(Q("削除"), Segments);
  for (QPushButton *B : {AddButton, EditButton, DeleteButton}) ListButtons->addWidget(B);
  Right->addLayout(ListButtons);

  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Layout->addWidget(Box);
  connect(Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(ProtectModeButton, &QRadioButton::toggled, this, [this](bool Protect) {
    FForm.SetDeleteMode(Protect ? 1 : 0);
    FillSegments(SegmentList->indexOfTopLevelItem(SegmentList->currentItem()));
  });
  connect(SegmentList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *Item, int Column) {
    if (!FFilling && Column == 0)
      FForm.SetChecked(SegmentList->indexOfTopLevelItem(Item), Item->checkState(0) == Qt::Checked);
  });
  connect(SegmentList, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });
  connect(SegmentList, &QTreeWidget::itemDoubleClicked, this, [this] { EditSegment(); });
  connect(AddButton, &QPushButton::clicked, this, &TQuzenOptionDialog::AddSegment);
  connect(EditButton, &QPushButton::clicked, this, &TQuzenOptionDialog::EditSegment);
  connect(DeleteButton, &QPushButton::clicked, this, &TQuzenOptionDialog::DeleteSegment);
  FillSegments(-1);
}

void TQuzenOptionDialog::FillSegments(int Current) {
  FFilling = true;
  SegmentList->clear();
  for (const TSegmentInfo &S : FForm.Segments()) {
    auto *Item = new QTreeWidgetItem(SegmentList);
    const bool Com = SegmentMarkerIndex(S.Marker) == SEGMENT_CHOICE_COM;
    Item->setText(0, Q(SegmentMarkerChoice(SegmentMarkerIndex(S.Marker))));
    Item->setText(1, Com ? QString() : Q(S.Header));
    Item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    Item->setCheckState(0, S.Check ? Qt::Checked : Qt::Unchecked);
  }
  if (Current >= 0 && Current < SegmentList->topLevelItemCount())
    SegmentList->setCurrentItem(SegmentList->topLevelItem(Current));
  FFilling = false;
  UpdateButtons();
}

void TQuzenOptionDialog::UpdateButtons() {
  const bool Selected = SegmentList->currentItem() != nullptr;
  EditButton->setEnabled(Selected);
  DeleteButton->setEnabled(Selected);
}

void TQuzenOptionDialog::AddSegment() {
  TSegmentInfo App0;
  App0.Marker = JPEG_APP0;
  TSegmentInfoDialog Dialog(App0, this);
  if (Dialog.exec() != QDialog::Accepted) return;
  FillSegments(FForm.Add(Dialog.Segment()));
}

void TQuzenOptionDialog::EditSegment() {
  const int Row = SegmentList->indexOfTopLevelItem(SegmentList->currentItem());
  if (Row < 0 || size_t(Row) >= FForm.Segments().size()) return;
  TSegmentInfoDialog Dialog(FForm.Segments()[size_t(Row)], this);
  if (Dialog.exec() != QDialog::Accepted) return;
  FillSegments(FForm.Edit(Row, Dialog.Segment()));
}

void TQuzenOptionDialog::DeleteSegment() {
  const int Row = SegmentList->indexOfTopLevelItem(SegmentList->currentItem());
  if (Row < 0) return;
  FForm.Delete(Row);
  FillSegments(std::min(Row, int(FForm.Segments().size()) - 1));
}

void TQuzenOptionDialog::ChooseImportFile(int Which) {
  if (Which < 0 || Which > 1) return;
  QLineEdit *Edit = FileEdits[size_t(2 + Which)];
  QFileDialog Chooser(this, FileChecks[size_t(2 + Which)]->text(),
                      Q(WembImportStartFolder(Edit->text().toStdString())), QtFilter(IMPORT_FILTERS[Which]));
  Chooser.setFileMode(QFileDialog::ExistingFile);
  Chooser.setOption(QFileDialog::DontUseNativeDialog);
  if (Chooser.exec() == QDialog::Accepted && !Chooser.selectedFiles().isEmpty())
    Edit->setText(Chooser.selectedFiles().first());
}

void TQuzenOptionDialog::StoreTo(TWembSettings &Settings) {
  TWembOption &O = FForm.Option;
  O.Rotation = RotationBox->currentIndex();
  O.ExifOrientation = OrientationBox->currentIndex();
  O.ICCProfileRevision = ICCRevisionBox->currentIndex();
  O.Grayscale = GrayscaleBox->currentIndex();
  O.OptimizeMode = OptimizeBox->currentIndex();
  O.Trimming = LongOf(TrimmingCheck);
  O.AddText = LongOf(AddTextCheck);
  O.DeleteExifThumbnail = LongOf(DeleteThumbnailCheck);
  O.UpdateExifThumbnail = LongOf(UpdateThumbnailCheck);
  O.DeleteMakerNote = LongOf(DeleteMakerNoteCheck);
  O.DeleteGPSInfoIFD = LongOf(DeleteGPSCheck);
  O.ExifExport = LongOf(FileChecks[0]);
  O.ICCExport = LongOf(FileChecks[1]);
  O.ExifImport = LongOf(FileChecks[2]);
  O.ICCImport = LongOf(FileChecks[3]);
  O.ExifExportName = FileEdits[0]->text().toStdString();
  O.ICCExportName = FileEdits[1]->text().toStdString();
  O.ExifImportName = FileEdits[2]->text().toStdString();
  O.ICCImportName = FileEdits[3]->text().toStdString();
  FForm.StoreTo(Settings);
}

bool ShowQuzenOptionDialog(QWidget *Parent) {
  TQuzenOptionDialog Dialog(WembSettings, Parent);
  if (Dialog.exec() != QDialog::Accepted) return false;
  Dialog.StoreTo(WembSettings);
  return true;
}
