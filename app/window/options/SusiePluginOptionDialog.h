// The plug-in dialog "Susie Plug-in設定": a thin window over the GUI-free
// TSusiePluginOptionForm, which holds the folder, the loaded plug-ins of both
// kinds with their check marks and order, and what OK stores.
#pragma once

#include "app/SusiePluginOption.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
struct TSPIOption;

class TSusiePluginOptionDialog : public QDialog {
  Q_OBJECT
public:
  // Works on copies of Option and Orders; DefaultFolder is the folder an
  // empty SPIDirectory stands for. The plug-ins are loaded as it opens.
  TSusiePluginOptionDialog(const TSPIOption &Option, const TPluginOrders &Orders, std::string DefaultFolder,
                           QWidget *Parent = nullptr);
  // After OK: the folder, the thread-safety switch and both order lists.
  void StoreTo(TSPIOption &Option, TPluginOrders &Orders);

  // "参照...": the folder browser, placed 22 pixels right of and below the
  // dialog's corner; a chosen folder goes to ChangeFolder.
  void BrowseFolder();
  // The plug-ins of Folder merged with the lists as they stand.
  void ChangeFolder(const QString &Folder);

  QRadioButton *ImageButton = nullptr;    // "画像用プラグイン"
  QRadioButton *ArchiveButton = nullptr;  // "書庫用プラグイン"
  QListWidget *PluginList = nullptr;      // the check list of the chosen kind; rows can be dragged
  QPushButton *UpButton = nullptr, *DownButton = nullptr, *ConfigButton = nullptr;  // "上へ", "下へ", "設定..."
  QLineEdit *FolderEdit = nullptr;
  QPushButton *BrowseButton = nullptr;    // "参照..."
  QCheckBox *ThreadSafeCheck = nullptr;   // "複数スレッドで同一プラグインを使用する"

  TSusiePluginOptionForm &Form() { return FForm; }

private:
  void FillList(int Current);
  void Move(int From, int To);
  void UpdateButtons();
  TSusiePluginOptionForm FForm;
  bool FFilling = false;
};

// The main window's plug-in command: with entries in the list, Confirm is
// asked to clear it first (ClearList clears it); then the dialog on the
// program-wide records, and, whether OK or Cancel closed it, the program's
// plug-in lists reloaded and the plug-in settings file written (AskRetry
// after failed writes). False when the user declined the clearing.
bool ShowSusiePluginOptionDialog(QWidget *Parent, int ListCount, const std::function<bool(const QString &)> &Confirm,
                                 const std::function<void()> &ClearList,
                                 const std::function<bool(const std::string &)> &AskRetry);
