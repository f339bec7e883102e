// The error-log window ("ErrorLog"): a read-only text of the messages and a
// "閉じる" button. Showing it takes the messages out of the program-wide log,
// so each showing consumes them.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

class TErrorLogWindow : public QDialog {
  Q_OBJECT
public:
  explicit TErrorLogWindow(QWidget *Parent = nullptr);
  // Takes the log's messages into the text; answers how many there were.
  int TakeLog();
  QPlainTextEdit *Memo = nullptr;
  QPushButton *CloseButton = nullptr;
};

// Shows the log modally when it holds messages (the warning beep first);
// answers whether it was shown.
bool ShowErrorLogIfAny(QWidget *Parent);
