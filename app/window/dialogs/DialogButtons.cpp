// The "OK" and "キャンセル" buttons of the settings dialogs.
#include "app/window/dialogs/DialogButtons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

QHBoxLayout *OKCancelRow(QDialog *Dialog) {
  auto *Row = new QHBoxLayout;
  Row->addStretch(1);
  auto *OK = new QPushButton(QStringLiteral("OK"), Dialog);
  auto *Cancel = new QPushButton(QStringLiteral("キャンセル"), Dialog);
  OK->setDefault(true);
  Row->addWidget(OK);
  Row->addWidget(Cancel);
  QObject::connect(OK, &QPushButton::clicked, Dialog, &QDialog::accept);
  QObject::connect(Cancel, &QPushButton::clicked, Dialog, &QDialog::reject);
  return Row;
}
