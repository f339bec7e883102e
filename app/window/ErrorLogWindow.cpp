// The error-log window.
#include "app/window/ErrorLogWindow.h"

#include "batch/ErrorLogFrm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TErrorLogWindow::TErrorLogWindow(QWidget *Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("ErrorLog"));
  auto *Layout = new QVBoxLayout(this);
  Memo = new QPlainTextEdit(this);
  Memo->setReadOnly(true);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  CloseButton = new QPushButton(QStringLiteral("閉じる"), this);
  auto *Row = new QHBoxLayout;
  Row->addStretch(1);
  Row->addWidget(CloseButton);
  Layout->addWidget(Memo, 1);
  Layout->addLayout(Row);
  resize(640, 320);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
}

int TErrorLogWindow::TakeLog() {
  const std::vector<std::string> Lines = ErrorLogForm().TakeMessages();
  QStringList Text;
  for (const std::string &L : Lines) Text << QString::fromStdString(L);
  Memo->setPlainText(Text.join(QLatin1Char('\n')));
  return int(Lines.size());
}

bool ShowErrorLogIfAny(QWidget *Parent) {
  if (ErrorLogForm().GetErrorCount() == 0) return false;
  TErrorLogWindow Window(Parent);
  Window.TakeLog();
  QApplication::beep();
  Window.exec();
  return true;
}
