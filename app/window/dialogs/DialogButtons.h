// The "OK" and "キャンセル" buttons that end every settings dialog.
#pragma once

class QDialog;
class QHBoxLayout;

// A row with the two buttons at its right: "OK" (the default button) calls
// the dialog's accept, which may refuse and keep the dialog open;
// "キャンセル" calls reject.
QHBoxLayout *OKCancelRow(QDialog *Dialog);
