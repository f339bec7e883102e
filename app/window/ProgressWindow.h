// The batch window ("処理中") and the combining window over the GUI-free
// controllers TProgressForm and TProgressForm2. The controller runs on a
// thread of its own; everything it tells its view reaches the window as a
// queued call, so the window keeps painting and the GUI thread never waits
// for a worker.
#pragma once

#include "batch/ImageInfo.h"
#include "batch/ProgressFrm.h"

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class TEffectList;

class TProgressWindow : public QDialog {
  Q_OBJECT
public:
  explicit TProgressWindow(QWidget *Parent = nullptr);

  // Runs the controller made by Make (on the GUI thread, so that it takes
  // its copy of the settings here) with ShowModal on a thread of its own
  // while the window is shown modally; answers the controller's modal
  // result. CanPause: the pause button is offered.
  template <class TForm>
  int32_t Run(const std::function<std::unique_ptr<TForm>(TProgressView *)> &Make, bool CanPause);

  // What the last run left for the status bar (elapsed-time text).
  const std::string &ResultText() const { return FResultText; }

  // The controls, for views and tests.
  QLabel *Label1 = nullptr;        // the file being converted
  QLabel *InfoLabel = nullptr;     // files done, elapsed time
  QProgressBar *ProgressBar1 = nullptr;
  QPushButton *Button1 = nullptr;  // "中止"
  QPushButton *Button2 = nullptr;  // "中断" / "再開"

  // Called with the run's control once the controller is made, before it
  // starts; what it asks (a pause, a stop) is queued ahead of the run's own
  // notifications. Tests and the end-to-end check hook in here.
  std::function<void(TRunControl &)> OnStarted;

  // --- called through queued calls from the controller's view ---
  void ShowNaming();
  void ShowStarted(int32_t Files, int32_t Workers);
  void ShowState(const TProgressSnapshot &State, bool WithLabel);
  void ShowPaused(bool Paused);
  void ShowWarning(const QString &Text);
  void Finish(int32_t ModalResult, const std::string &ResultText);

protected:
  void reject() override;  // Escape and the close box stop the run instead

private:
  void StopRun();
  TRunControl *FControl = nullptr;
  std::atomic<bool> *FStopFlag = nullptr;  // controllers that stop on their own thread
  bool FFinished = false;
  std::string FResultText;
};

// The conversion of the list's checked entries through the batch window.
int32_t ShowBatchWindow(QWidget *Parent, TImageInfoList &List, TEffectList &Effects, std::string &ResultText,
                        const std::function<void(TProgressWindow &)> &Prepare = {});
// Combining mode: the combining window over the combining controller.
int32_t ShowCombineWindow(QWidget *Parent, TImageInfoList &List, std::string &ResultText,
                          const std::function<void(TProgressWindow &)> &Prepare = {});
