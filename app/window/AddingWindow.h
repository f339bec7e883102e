// The adding window ("リストアップ中"): a marquee, the number of files found
// so far and a cancel button, shown modally while the GUI-free adding
// controller TProgressForm3 runs its thread. The window keeps painting; a
// cancel only asks the thread to stop, and the window closes when it has.
#pragma once

#include "batch/ImageInfo.h"
#include "batch/ProgressFrm3.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class TAddingWindow : public QDialog {
  Q_OBJECT
public:
  TAddingWindow(TImageInfoList &List, QWidget *Parent = nullptr);
  // One of the three ways to add, then Execute: 1 finished, 2 cancelled.
  void AddDropFiles(std::vector<std::string> Paths) { FForm.AddDropFiles(std::move(Paths)); }
  void AddFiles(std::vector<std::string> Paths, bool IsTemp) { FForm.AddFiles(std::move(Paths), IsTemp); }
  void AddFolder(std::string Folder) { FForm.AddFolder(std::move(Folder)); }
  void SetOptions(TListupOptions Options) { FForm.SetOptions(std::move(Options)); }
  int32_t Execute();

  QLabel *Label1 = nullptr;
  QProgressBar *ProgressBar1 = nullptr;
  QPushButton *CancelButton = nullptr;
  // Called once the controller is set up, just before its thread starts
  // (tests cancel from here).
  std::function<void(TAddingWindow &)> OnStarted;

protected:
  void reject() override;

private:
  TProgressForm3 FForm;
  QTimer *FTimer = nullptr;
  bool FDone = false;
};
