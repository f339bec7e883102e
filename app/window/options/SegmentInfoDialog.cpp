// The segment dialog.
#include "app/window/options/SegmentInfoDialog.h"

#include "lossless/QuzenOptionForm.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

TSegmentInfoDialog::TSegmentInfoDialog(const TSegmentInfo &Segment, QWidget *Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("セグメント"));
  auto *Layout = new QVBoxLayout(this);
  auto *Form = new QFormLayout;
  MarkerBox = new QComboBox(this);
  for (int i = 0; i < SEGMENT_MARKER_CHOICES; ++i) MarkerBox->addItem(QString::fromStdString(SegmentMarkerChoice(i)));
  MarkerBox->setCurrentIndex(SegmentMarkerIndex(Segment.Marker));
  HeaderEdit = new QLineEdit(QString::fromStdString(Segment.Header), this);
  HeaderEdit->setMinimumWidth(220);
  Form->addRow(QStringLiteral("マーカー"), MarkerBox);
  Form->addRow(QStringLiteral("ヘッダー"), HeaderEdit);
  Layout->addLayout(Form);
  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Layout->addWidget(Box);
  connect(Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(MarkerBox, &QComboBox::currentIndexChanged, this, [this] { UpdateHeader(); });
  UpdateHeader();
}

void TSegmentInfoDialog::UpdateHeader() { HeaderEdit->setEnabled(MarkerBox->currentIndex() != SEGMENT_CHOICE_COM); }

TSegmentInfo TSegmentInfoDialog::Segment() const {
  return SegmentFromChoice(MarkerBox->currentIndex(), HeaderEdit->text().toStdString());
}
