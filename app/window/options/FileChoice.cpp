// File and folder choices of the option dialogs.
#include "app/window/options/FileChoice.h"

#include <QDir>
#include <QFileDialog>

QString AskFile(QWidget *Parent, const QString &Title, const QString &Folder, const char *Filter) {
  QFileDialog Dialog(Parent, Title, Folder, QString::fromUtf8(Filter));
  Dialog.setOption(QFileDialog::DontUseNativeDialog);
  Dialog.setFileMode(QFileDialog::ExistingFile);
  Dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return QString();
  return Dialog.selectedFiles().first();
}

QString AskFolder(QWidget *Parent, const QString &Title, const QString &InitFolder) {
  QFileDialog Dialog(Parent, Title);
  Dialog.setOption(QFileDialog::DontUseNativeDialog);
  Dialog.setFileMode(QFileDialog::Directory);
  Dialog.setOption(QFileDialog::ShowDirsOnly);
  if (!InitFolder.isEmpty() && QDir(InitFolder).exists()) Dialog.setDirectory(InitFolder);
  if (Parent) Dialog.move(Parent->window()->geometry().topLeft() + QPoint(22, 22));
  if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return QString();
  return Dialog.selectedFiles().first();
}
