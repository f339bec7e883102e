// The environment dialog TEnvOptionForm "環境設定": six tab pages, of which
// the system, output-folder and viewer pages are page dialogs of their own
// (TSystemOptionForm, TFolderOptionForm, TPreviewOptionForm) whose controls
// sit on a tab; the colour-management, file and post-processing pages belong
// to the container. Every page fills its controls from the GUI-free
// TEnvOptionRules when it is created and stores them back on OK; only OK
// copies them into the program-wide records.
#pragma once

#include "app/window/dialogs/ColorChoice.h"
#include "app/window/options/EnvOptionRules.h"

#include <QDialog>

#include <array>
#include <string>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class QToolButton;
class QPushButton;
class TUDNumEdit;

// Page "システム" (caption "システム設定"): TSystemOption and the background colour.
class TSystemOptionForm : public QDialog {
  Q_OBJECT
public:
  TSystemOptionForm(TEnvOptionRules &Rules, QWidget *Parent = nullptr);
  void Fill();
  void Store();

  QCheckBox *ParallelCheck = nullptr;   // "複数ファイルを並列処理する"
  QLabel *MaxThreadLabel = nullptr;
  TUDNumEdit *MaxThreadEdit = nullptr;  // "最大スレッド数"
  QCheckBox *MemReserveCheck = nullptr; // "起動時にメモリを予約する"
  QLabel *BackColorSwatch = nullptr;    // "背景色"
  QPushButton *BackColorButton = nullptr;  // "設定..."
  QButtonGroup *DitherGroup = nullptr;  // "なし", "ランダム", "誤差拡散"
  QCheckBox *MultipleCheck = nullptr, *WatchClipBoardCheck = nullptr, *LabModeCheck = nullptr;
  QComboBox *PriorityBox = nullptr;     // "プロセス優先度"
  uint32_t BackColor = 0;               // the background colour being edited

private:
  void ApplyEnabling();
  void ShowBackColor();
  TEnvOptionRules &FRules;
  // The custom colours the colour dialog leaves; Store hands them on.
  TColorChoice FColorChoice;
};

// Page "出力フォルダ" (caption "出力フォルダ設定"): the output-folder fields of TFileOption.
class TFolderOptionForm : public QDialog {
  Q_OBJECT
public:
  TFolderOptionForm(TEnvOptionRules &Rules, QWidget *Parent = nullptr);
  void Fill();
  void Store();

  QCheckBox *SameDirectoryCheck = nullptr;  // "元画像と同じフォルダに出力"
  QGroupBox *OutputGroup = nullptr;
  QLineEdit *OutputDirectoryEdit = nullptr;
  QToolButton *OutputDirectoryButton = nullptr;
  QCheckBox *ShowDirectoryCheck = nullptr;  // "出力先のフォルダを開く"
  QCheckBox *OpenCheckCheck = nullptr;      // "既に開いているフォルダは開かない"
  QLineEdit *ClipBoardTempDirEdit = nullptr;
  QToolButton *ClipBoardTempDirButton = nullptr;

private:
  void ApplyEnabling();
  TEnvOptionRules &FRules;
};

// Page "外部ビューア" (caption "プレビュー設定"): the viewer fields of TPreviewOption.
class TPreviewOptionForm : public QDialog {
  Q_OBJECT
public:
  TPreviewOptionForm(TEnvOptionRules &Rules, QWidget *Parent = nullptr);
  void Fill();
  void Store();

  QLineEdit *ViewerPathEdit = nullptr;
  QToolButton *ViewerPathButton = nullptr;
  QLineEdit *ViewerOptionEdit = nullptr;   // "起動オプション"
  QLineEdit *ViewerOption2Edit = nullptr;  // "起動オプション2"

private:
  TEnvOptionRules &FRules;
};

class TEnvOptionForm : public QDialog {
  Q_OBJECT
public:
  // Copies the program-wide records in and opens on the remembered page.
  explicit TEnvOptionForm(QWidget *Parent = nullptr);
  ~TEnvOptionForm() override;

  // OK: the pages are stored in page order, the records written, the shown
  // page remembered and the profiles reloaded.
  void accept() override;
  TEnvOptionRules &Rules() { return FRules; }

  QTabWidget *Tabs = nullptr;
  TSystemOptionForm *SystemPage = nullptr;
  TFolderOptionForm *FolderPage = nullptr;
  TPreviewOptionForm *PreviewPage = nullptr;

  // "カラーマネージメント"
  QCheckBox *ColorEnabledCheck = nullptr;
  std::array<QComboBox *, PROFILE_LIST_COUNT> ProfileBoxes{};
  std::array<QToolButton *, PROFILE_LIST_COUNT> ProfileButtons{};
  QComboBox *IntentBox = nullptr;
  QCheckBox *ProfileFromExifCheck = nullptr;
  // "ファイル"
  QCheckBox *NotOverwriteCheck = nullptr;
  QButtonGroup *SkipGroup = nullptr;  // "別のファイル名を割り当てる", "処理をスキップする"
  QCheckBox *AddSubFolderCheck = nullptr;
  TUDNumEdit *UDNumEdit = nullptr;    // "連番初期値"
  QButtonGroup *ResetGroup = nullptr; // "毎回リセットする", "起動時にリセットする", "リセットしない"
  QCheckBox *RemoveListCheck = nullptr, *IgnoreReadOnlyCheck = nullptr, *SkipImageCheckCheck = nullptr,
            *DeleteInputFileCheck = nullptr, *AllowUndoCheck = nullptr;
  QComboBox *AutoSortBox = nullptr;
  QCheckBox *CheckExtCheck = nullptr;
  QLineEdit *TargetExtEdit = nullptr;
  // "後処理"
  QCheckBox *UseExternalToolCheck = nullptr;
  QLineEdit *CommandEdit = nullptr;
  QToolButton *CommandButton = nullptr;
  QCheckBox *DeleteFileCheck = nullptr;
  QLineEdit *DeleteFileNameEdit = nullptr;
  QCheckBox *NotifyCheck = nullptr;
  QLineEdit *SoundFileEdit = nullptr;
  QToolButton *SoundFileButton = nullptr;

private:
  QWidget *CreateColorPage();
  QWidget *CreateFilePage();
  QWidget *CreatePostProcessPage();
  void FillColorPage();
  void FillProfileBox(int32_t List);
  void ChooseProfileFile(int32_t List);
  void FillFilePage();
  void FillPostProcessPage();
  void StoreColorPage();
  void StoreFilePage();
  void StorePostProcessPage();
  void ApplyEnabling();

  TEnvOptionRules FRules;
  std::vector<std::string> FColorFolders;
};

// The environment command: the dialog over the program-wide records; true
// after OK.
bool ShowEnvOptionDialog(QWidget *Parent);
