// The adding window.
#include "app/window/AddingWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <thread>

TAddingWindow::TAddingWindow(TImageInfoList &List, QWidget *Parent) : QDialog(Parent), FForm(List) {
  setWindowTitle(QString::fromStdString(FForm.Caption));
  setModal(true);
  auto *Layout = new QVBoxLayout(this);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setRange(0, 0);  // marquee
  ProgressBar1->setTextVisible(false);
  Label1 = new QLabel(this);
  Label1->setMinimumWidth(280);
  CancelButton = new QPushButton(QStringLiteral("キャンセル"), this);
  auto *Row = new QHBoxLayout;
  Row->addWidget(Label1, 1);
  Row->addWidget(CancelButton);
  Layout->addWidget(ProgressBar1);
  Layout->addLayout(Row);
  FTimer = new QTimer(this);
  FTimer->setInterval(100);
  connect(FTimer, &QTimer::timeout, this,
          [this] { Label1->setText(QStringLiteral("%1 ファイル").arg(FForm.Listed())); });
  connect(CancelButton, &QPushButton::clicked, this, &TAddingWindow::reject);
}

int32_t TAddingWindow::Execute() {
  QPointer<TAddingWindow> Self(this);
  // The thread's report closes the window through a queued call.
  FForm.OnReport = [Self](uint32_t Msg) {
    QMetaObject::invokeMethod(
        Self.data(), [Self, Msg] {
          if (!Self) return;
          Self->FDone = true;
          Self->FTimer->stop();
          Self->done(Msg == WM_LISTUP_STOPPED ? 2 : 1);
        },
        Qt::QueuedConnection);
  };
  FDone = false;
  int32_t Result = 2;
  if (OnStarted) OnStarted(*this);
  std::thread Runner([this, &Result] { Result = FForm.ShowModal(); });
  FTimer->start();
  exec();
  Runner.join();
  FTimer->stop();
  FForm.OnReport = nullptr;
  return Result;
}

void TAddingWindow::reject() {
  // Only asks the thread to stop; its report closes the window.
  if (FDone) return;
  CancelButton->setEnabled(false);
  FForm.Close();
}
