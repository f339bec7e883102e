// The lossless-JPEG dialog "Quzen設定": a thin window over the GUI-free
// TQuzenOptionForm, which holds the copy of the options and of the segment
// list, the check marks that follow a mode switch and what OK stores.
#pragma once

#include "lossless/QuzenOptionForm.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class TQuzenOptionDialog : public QDialog {
  Q_OBJECT
public:
  explicit TQuzenOptionDialog(const TWembSettings &Settings, QWidget *Parent = nullptr);
  // After OK: every control and the segment list into Settings.
  void StoreTo(TWembSettings &Settings);

  // "追加", "編集", "削除" of the segment list; the first two open the
  // segment dialog.
  void AddSegment();
  void EditSegment();
  void DeleteSegment();
  // The file chooser of "Exif情報のインポート" (Which 0) or
  // "ICCプロファイルのインポート" (1); a chosen file goes to its name field.
  void ChooseImportFile(int Which);

  QComboBox *RotationBox = nullptr;         // "回転・反転"
  QComboBox *OrientationBox = nullptr;      // "Exif・Orientation"
  QComboBox *ICCRevisionBox = nullptr;      // "ICCプロファイル補正"
  QComboBox *GrayscaleBox = nullptr;        // "グレースケール化"
  QComboBox *OptimizeBox = nullptr;         // "最適化"
  QCheckBox *TrimmingCheck = nullptr, *AddTextCheck = nullptr;
  QCheckBox *DeleteThumbnailCheck = nullptr, *UpdateThumbnailCheck = nullptr, *DeleteMakerNoteCheck = nullptr,
            *DeleteGPSCheck = nullptr;
  // Exif export, ICC export, Exif import, ICC import: the boxes and the names.
  std::array<QCheckBox *, 4> FileChecks{};
  std::array<QLineEdit *, 4> FileEdits{};
  std::array<QPushButton *, 2> ImportButtons{};  // "..." beside the two import names
  QRadioButton *DeleteModeButton = nullptr;   // "任意のセグメントを削除する"
  QRadioButton *ProtectModeButton = nullptr;  // "任意のセグメントを保護する"
  QTreeWidget *SegmentList = nullptr;         // "マーカー", "ヘッダー", with check boxes
  QPushButton *AddButton = nullptr, *EditButton = nullptr, *DeleteButton = nullptr;

  TQuzenOptionForm &Form() { return FForm; }

private:
  void FillSegments(int Current);
  void UpdateButtons();
  TQuzenOptionForm FForm;
  bool FFilling = false;
};

// Opens the dialog on the program-wide lossless settings; OK stores into them.
bool ShowQuzenOptionDialog(QWidget *Parent);
