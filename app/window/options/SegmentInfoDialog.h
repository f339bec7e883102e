// The segment dialog of the lossless-JPEG settings: which marker ("APP0" to
// "APP15", "COM") and which header text a segment-list entry matches.
#pragma once

#include "io/JpegSegment.h"

#include <QDialog>

class QComboBox;
class QLineEdit;

class TSegmentInfoDialog : public QDialog {
  Q_OBJECT
public:
  // Shows Segment: a marker outside APP0..APP15 shows as COM.
  explicit TSegmentInfoDialog(const TSegmentInfo &Segment, QWidget *Parent = nullptr);
  // The entry as chosen: COM (without a header) for the COM choice.
  TSegmentInfo Segment() const;

  QComboBox *MarkerBox = nullptr;
  QLineEdit *HeaderEdit = nullptr;  // disabled while COM is chosen, which matches no header

private:
  void UpdateHeader();
};
