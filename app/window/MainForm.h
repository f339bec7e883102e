// The main window TTessivoPlusMainForm: the input list in the middle, the
// command tool bar and the tool bar of template, mode, size rule and
// "即時変換" above it, the column of effect panels at the right, the status
// bar. It owns the list and the effect chain; conversions run behind the
// modal batch window, adding behind the modal adding window.
#pragma once

#include "app/window/WindowRules.h"
#include "batch/ImageInfo.h"
#include "batch/SizeRule.h"
#include "effects/Effect.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QTableView;
class QToolButton;
class QWidget;
class TAddingWindow;
class TEffectPanel;
class TImageListModel;
class TListView;
class TProgressWindow;
class TThumbnailMaker;
class TThumbnailWindow;
struct TPreviewContext;
class QImage;

class TTessivoPlusMainForm : public QMainWindow {
  Q_OBJECT
public:
  // Reads IniPath (the current settings file) into the window.
  explicit TTessivoPlusMainForm(const std::string &IniPath, QWidget *Parent = nullptr);
  ~TTessivoPlusMainForm() override;

  TImageInfoList &ImageList() { return FList; }
  TEffectList &Effects() { return FEffects; }
  const std::string &IniPath() const { return FIniPath; }

  // Adding by any way (commands, drops, paste, the command line, a second
  // instance): the adding window runs; then, with AtOnce on and entries in
  // the list, a conversion; otherwise the view and command states follow.
  void AddDropFiles(const std::vector<std::string> &Paths);
  void AddPaths(const std::vector<std::string> &Paths, bool IsTemp = false);
  void AddFolder(const std::string &Folder);
  // The run command (F5).
  void Run();
  // Mode list change ("Normal", "JPEGTran", "画像連結", "リネーム").
  void ChangeMode(int Mode);
  // The "即時変換" box.
  void SetAtOnce(bool On);
  // Re-reads a settings file into the window (profile change, open command).
  void LoadSettings(const std::string &Path, bool AtCreation);
  // Rebuilds the effect panels from the effect list (UpDateMenu).
  void RebuildEffectPanels();
  void UpdateCommandStates();
  // The thumbnail menu: 0 none, 1 160, 2 320, 3 640.
  void SetThumbnailSize(int Size);

  // The window state a settings writer stores ("Window", column widths,
  // the size rule fields, the thumbnail window's offset).
  struct TWindowState {
    int32_t Left = 0, Top = 0, ClientWidth = 0, ClientHeight = 0;
    std::vector<int32_t> ColumnWidths;
    int32_t ThumbnailLeft = 0, ThumbnailTop = 0;
  };
  TWindowState WindowState() const;
  // Copies the window state, the shown size-rule fields and the history into
  // the settings records, ready for a save.
  void StoreWindowSettings();
  // The settings-write question after the quiet retries: Retry or Cancel.
  static bool AskWriteRetry(QWidget *Parent, const std::string &Error);

  // Controls, for tests and the start-up code.
  TListView *ListView = nullptr;
  TImageListModel *Model = nullptr;
  QLineEdit *TemplateEdit = nullptr;
  QToolButton *FolderButton = nullptr;
  QComboBox *ModeBox = nullptr;
  QComboBox *RuleBox = nullptr;
  QComboBox *HistoryBox = nullptr;
  QLineEdit *SizeEdit1 = nullptr;
  QLineEdit *SizeEdit2 = nullptr;
  QLabel *SizeLabel1 = nullptr;
  QLabel *SizeLabel2 = nullptr;
  QCheckBox *AtOnceCheck = nullptr;
  QComboBox *ProfileBox = nullptr;
  QLabel *StatusElapsed = nullptr;
  QLabel *StatusFiles = nullptr;
  QStackedWidget *ModePanels = nullptr;
  QWidget *PanelColumn = nullptr;
  TThumbnailWindow *ThumbnailWindow = nullptr;
  std::vector<TEffectPanel *> FilterList;  // the panels, in effect-list order
  TEffectPanel *DCPanel = nullptr;

  QAction *ActRun = nullptr, *ActAddFiles = nullptr, *ActAddFolder = nullptr, *ActOpenSettings = nullptr,
          *ActSaveSettings = nullptr, *ActExit = nullptr, *ActDelete = nullptr, *ActClear = nullptr,
          *ActSelectAll = nullptr, *ActCheck = nullptr, *ActUncheck = nullptr, *ActToggleSelected = nullptr,
          *ActToggleAll = nullptr, *ActEveryOther = nullptr, *ActPaste = nullptr, *ActPreview = nullptr,
          *ActPreviewViewer = nullptr, *ActEffectOrder = nullptr, *ActLossless = nullptr, *ActCombine = nullptr,
          *ActIgnoreEmbedded = nullptr, *ActHelp = nullptr, *ActAbout = nullptr, *ActShortcut = nullptr;
  // "フォーマット設定(&F)..." opens the format dialog on its remembered page,
  // "フォーマット変換設定(&C)..." on its conversion page.
  QAction *ActFormatOption = nullptr, *ActConvertTable = nullptr;
  QAction *ActResizeOption = nullptr, *ActEnvOption = nullptr;  // "リサイズ設定", "環境設定"
  std::vector<QAction *> ActThumbnail;  // "なし", "160x160", "320x320", "640x640"
  QAction *ActPlugins = nullptr;        // "Susie Plug-in設定(&P)..."

  // Hooks for tests and the start-up code: each batch or combining window
  // before it runs; the settings writer at close (the window stores nothing
  // itself when none is set).
  std::function<void(TProgressWindow &)> OnBatchWindow;
  std::function<void(TTessivoPlusMainForm &)> OnSaveSettings;
  // Answers a confirmation question; the default asks with a message box.
  std::function<bool(const QString &Text)> Confirm;

  bool DragDropAccept = true;
  int32_t OldRule = 0;
  TSizeRuleHistory ResizeHistory;

  // Deletes the selected rows (the Delete key, without Shift, Ctrl or Alt).
  void DeleteSelected();
  void ClearList();
  void SetChecks(int How);  // 0 uncheck, 1 check, 2 toggle the selected rows
  void ToggleAll();
  void CheckEveryOther();
  // Moves the entry at From to To (a row dragged inside the list).
  void MoveEntry(int From, int To);
  void Paste();
  void ShowAbout();
  // The resize-settings command (also the resize step's settings button) and
  // the environment command, with what follows their OK.
  void ShowResizeOptions();
  void ShowEnvOptions();
  // The two preview commands: the external viewer when one is configured
  // (ViewerOption, or ViewerOption2 for the second command), else the plain
  // viewer window. PreviewWindow is set while that window is open.
  void Preview(bool SecondViewer);
  // What an effect dialog needs from this window: the list, the selected
  // entry, the chain, the preview settings and the size rule.
  TPreviewContext PreviewContext();
  class TPreviewWindow *PreviewWindow = nullptr;
  int32_t PreviewIndex = 0;
  // The entry whose thumbnail is wanted changed.
  void ShowThumbnailOf(int Row);

protected:
  void closeEvent(QCloseEvent *E) override;
  void dragEnterEvent(QDragEnterEvent *E) override;
  void dropEvent(QDropEvent *E) override;

private:
  void CreateActions();
  void CreateToolBars();
  void CreateCentre();
  void ShowRuleFields(int Rule);
  void RuleChanged(int Rule);
  // Resolves the shown size rule into the resize step and applies the
  // kernels; false (with the error log shown) when that failed.
  bool PrepareResize();
  // The adding window over the list, with the paths Choose gives it;
  // answers its result (1 finished, 2 cancelled).
  int32_t RunAddingWindow(const std::function<void(TAddingWindow &)> &Choose);
  void AfterAdding(int32_t Result);
  void RefreshView();
  void SwapPanels(TEffectPanel &Panel, int Step);
  void ShowModePanel();
  void ShowOrderDialog();
  void RememberThumbnailOffset();
  void HideThumbnailWindow();
  void PlaceThumbnailWindow();
  void ThumbnailMade(uint64_t Serial, const QImage &Image, const std::string &Error,
                     const std::vector<uint8_t> &Cached);
  void WatchClipboard(bool On);
  TSizeRuleFields ShownRuleFields() const;
  void StoreShownRuleFields(const TSizeRuleFields &F);
  void FillProfiles();
  int SelectedCount() const;
  // Row becomes the current and only selected row.
  void SelectOnly(int Row);
  std::vector<int> SelectedRows() const;

  std::string FIniPath;
  TImageInfoList FList;
  TEffectList FEffects;
  int32_t FMode = 0;
  bool FRunning = false;
  bool FLoading = false;
  int32_t FClipboardCounter = 0;
  int32_t FThumbOffsetX = -65535, FThumbOffsetY = -65535;
  std::unique_ptr<TThumbnailMaker> FThumbnailMaker;
  uint64_t FThumbnailSerial = 0;
  std::string FThumbnailPath;
  QAction *FSizeAction1 = nullptr, *FSizeAction2 = nullptr, *FSizeLabelAction1 = nullptr,
          *FSizeLabelAction2 = nullptr, *FHistoryAction = nullptr;
  bool FWatchingClipboard = false;

public:
  // Ignore the next clipboard change (the program's own, or the one at start).
  bool ClipBoardCancel = true;
};

// The largest block of memory a picture can still get, in MiB (the
// available memory; the address space of a 64-bit process is no limit).
int64_t LargestFreeBlockMB();
