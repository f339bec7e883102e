// The resize dialog TResizeOptionForm "リサイズ設定": the reduction and
// enlargement kernels with the one parameter group each kernel has, the
// data path, threads and switches of TResizeOption. A thin window over the
// GUI-free TResizeOptionRules; only OK writes the record.
#pragma once

#include "app/window/options/ResizeOptionRules.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QWidget;
class TUDNumEdit;

class TResizeOptionForm : public QDialog {
  Q_OBJECT
public:
  explicit TResizeOptionForm(const TResizeOption &Option, QWidget *Parent = nullptr);
  // After OK: the controls into Option.
  void StoreTo(TResizeOption &Option);
  TResizeOptionRules &Rules() { return FRules; }

  // One kernel list with its three parameter rows, of which one or none shows.
  struct TKernelControls {
    QComboBox *Box = nullptr;
    QWidget *RadiusRow = nullptr, *SharpRow = nullptr, *BlurRow = nullptr;
    TUDNumEdit *Radius = nullptr, *Sharp = nullptr, *Blur = nullptr;
  };
  TKernelControls Decimation;     // "縮小アルゴリズム"
  TKernelControls Interpolation;  // "拡大アルゴリズム"
  QComboBox *SIMDBox = nullptr;   // "演算方法"
  TUDNumEdit *MaxThreadEdit = nullptr;
  QCheckBox *DegammaCheck = nullptr, *NoExpandCheck = nullptr, *LimiterCheck = nullptr;

private:
  TKernelControls CreateKernelControls(const char *Caption, const std::vector<int32_t> &Kernels,
                                       const TNumRange &Radius, const TNumRange &Sharp, const TNumRange &Blur,
                                       class QVBoxLayout *Layout);
  void ShowGroups();
  void FillSIMDBox();
  void FromControls();
  TResizeOptionRules FRules;
};

// The resize-settings command and the resize step's settings button: the
// dialog over the program-wide record; true after OK.
bool ShowResizeOptionDialog(QWidget *Parent);
