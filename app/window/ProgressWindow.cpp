// The batch and combining windows.
#include "app/window/ProgressWindow.h"

#include "batch/ProgressFrm2.h"
#include "batch/TerminalView.h"
#include "effects/Effect.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>
#include <thread>

namespace {

// The controller's view: every call comes on the controller's thread and is
// handed to the window as a queued call. Calls that arrive after the window
// is gone are dropped with it.
class TQueuedView : public TProgressView {
public:
  explicit TQueuedView(TProgressWindow *Window) : FWindow(Window) {}

  void NamingStarted() override { Post([](TProgressWindow &W) { W.ShowNaming(); }); }
  void ConvertStarted(int32_t Files, int32_t Workers) override {
    Post([Files, Workers](TProgressWindow &W) { W.ShowStarted(Files, Workers); });
  }
  void ShowProgress(const TProgressSnapshot &State) override {
    Post([State](TProgressWindow &W) { W.ShowState(State, true); });
  }
  void ShowLabel(const std::string &Text) override {
    Post([Text](TProgressWindow &W) { W.Label1->setText(QString::fromStdString(Text)); });
  }
  void Warning(const std::string &Text) override {
    Post([Text](TProgressWindow &W) { W.ShowWarning(QString::fromStdString(Text)); });
  }
  void PauseChanged(bool Paused) override { Post([Paused](TProgressWindow &W) { W.ShowPaused(Paused); }); }
  void Idle(const TProgressSnapshot &State) override {
    // A controller that stops only on its own thread is stopped from here.
    if (StopFlag && StopFlag->exchange(false) && Control) Control->Stop();
    Post([State](TProgressWindow &W) { W.ShowState(State, false); });
  }
  void Closed(int32_t ModalResult, const std::string &ResultText) override {
    Post([ModalResult, ResultText](TProgressWindow &W) { W.Finish(ModalResult, ResultText); });
  }

  std::atomic<bool> *StopFlag = nullptr;
  TRunControl *Control = nullptr;

private:
  template <class F>
  void Post(F Proc) {
    QPointer<TProgressWindow> W = FWindow;
    QMetaObject::invokeMethod(
        FWindow, [W, Proc] {
          if (W) Proc(*W);
        },
        Qt::QueuedConnection);
  }
  TProgressWindow *FWindow;
};

}  // namespace

TProgressWindow::TProgressWindow(QWidget *Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("処理中"));
  setModal(true);
  auto *Layout = new QVBoxLayout(this);
  Label1 = new QLabel(this);
  Label1->setMinimumWidth(360);
  Label1->setTextFormat(Qt::PlainText);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setRange(0, PROGRESS_BAR_MAX);
  ProgressBar1->setTextVisible(false);
  InfoLabel = new QLabel(this);
  Button2 = new QPushButton(QStringLiteral("中断"), this);
  Button1 = new QPushButton(QStringLiteral("中止"), this);
  Button1->setAutoDefault(false);
  Button2->setAutoDefault(false);
  auto *Buttons = new QHBoxLayout;
  Buttons->addWidget(InfoLabel, 1);
  Buttons->addWidget(Button2);
  Buttons->addWidget(Button1);
  Layout->addWidget(Label1);
  Layout->addWidget(ProgressBar1);
  Layout->addLayout(Buttons);
  connect(Button1, &QPushButton::clicked, this, [this] { StopRun(); });
  connect(Button2, &QPushButton::clicked, this, [this] {
    if (FControl) FControl->TogglePause();
  });
}

template <class TForm>
int32_t TProgressWindow::Run(const std::function<std::unique_ptr<TForm>(TProgressView *)> &Make, bool CanPause) {
  TQueuedView View(this);
  std::atomic<bool> StopFlag{false};
  std::unique_ptr<TForm> Form = Make(&View);
  FControl = Form.get();
  View.Control = Form.get();
  if (!CanPause) {
    // This controller is stopped on the thread that runs it, from its view.
    FStopFlag = &StopFlag;
    View.StopFlag = &StopFlag;
    Button2->hide();
  }
  FFinished = false;
  int32_t Result = MR_CANCEL;
  TForm *F = Form.get();
  if (OnStarted) OnStarted(*F);
  std::thread Runner([F, &Result] { Result = F->ShowModal(); });
  exec();
  Runner.join();  // the controller has told its view it closed: it ends now
  FControl = nullptr;
  FStopFlag = nullptr;
  FResultText = Form->ResultText;
  return Result;
}

void TProgressWindow::ShowNaming() {
  // The marquee while the names are made.
  ProgressBar1->setRange(0, 0);
}

void TProgressWindow::ShowStarted(int32_t Files, int32_t Workers) {
  ProgressBar1->setRange(0, PROGRESS_BAR_MAX);
  ProgressBar1->setValue(0);
  InfoLabel->setText(QStringLiteral("0 / %1  (%2)").arg(Files).arg(Workers));
}

void TProgressWindow::ShowState(const TProgressSnapshot &State, bool WithLabel) {
  if (WithLabel) {
    Label1->setText(QString::fromStdString(State.Label));
    if (ProgressBar1->maximum() > 0) ProgressBar1->setValue(State.Position);
  }
  if (State.FilesTotal > 0)
    InfoLabel->setText(QStringLiteral("%1 / %2   %3")
                           .arg(State.FilesDone)
                           .arg(State.FilesTotal)
                           .arg(QString::fromStdString(FormatClock(State.ElapsedMs))));
}

void TProgressWindow::ShowPaused(bool Paused) {
  Button2->setText(Paused ? QStringLiteral("再開") : QStringLiteral("中断"));
}

void TProgressWindow::ShowWarning(const QString &Text) { QMessageBox::warning(this, QStringLiteral("TessivoPlus"), Text); }

void TProgressWindow::Finish(int32_t ModalResult, const std::string &ResultText) {
  FFinished = true;
  FResultText = ResultText;
  ProgressBar1->setRange(0, PROGRESS_BAR_MAX);
  if (ModalResult == MR_OK) ProgressBar1->setValue(PROGRESS_BAR_MAX);
  done(ModalResult);
}

void TProgressWindow::StopRun() {
  Button1->setEnabled(false);
  if (FStopFlag) {
    FStopFlag->store(true);
  } else if (FControl) {
    FControl->Stop();
  }
}

void TProgressWindow::reject() {
  // The window closes only when the controller says the run ended.
  if (!FFinished) StopRun();
}

int32_t ShowBatchWindow(QWidget *Parent, TImageInfoList &List, TEffectList &Effects, std::string &ResultText,
                        const std::function<void(TProgressWindow &)> &Prepare) {
  TProgressWindow Window(Parent);
  if (Prepare) Prepare(Window);
  const int32_t Result = Window.Run<TProgressForm>(
      [&](TProgressView *View) { return std::make_unique<TProgressForm>(List, Effects, View); }, true);
  ResultText = Window.ResultText();
  return Result;
}

int32_t ShowCombineWindow(QWidget *Parent, TImageInfoList &List, std::string &ResultText,
                          const std::function<void(TProgressWindow &)> &Prepare) {
  TProgressWindow Window(Parent);
  if (Prepare) Prepare(Window);
  const int32_t Result = Window.Run<TProgressForm2>(
      [&](TProgressView *View) { return std::make_unique<TProgressForm2>(List, View); }, false);
  ResultText = Window.ResultText();
  return Result;
}
