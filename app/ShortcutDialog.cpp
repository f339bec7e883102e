// The shortcut dialog.
#include "app/ShortcutDialog.h"

#include "app/SettingsFile.h"
#include "app/Shortcut.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>

TCreateShortCutForm::TCreateShortCutForm(const std::string &Program, const std::string &Icon,
                                         const TEffectList &Effects, QWidget *Parent)
    : QDialog(Parent), FProgram(Program), FIcon(Icon), FEffects(Effects) {
  setWindowTitle(QStringLiteral("ショートカットの作成"));
  NameEdit = new QLineEdit(QStringLiteral("TessivoPlus"));
  auto *Place = new QGroupBox(QStringLiteral("作成場所"));
  DesktopButton = new QRadioButton(QStringLiteral("デスクトップ"));
  SendToButton = new QRadioButton(QStringLiteral("SendTo(送るメニュー)"));
  auto *PlaceLayout = new QVBoxLayout(Place);
  PlaceLayout->addWidget(DesktopButton);
  PlaceLayout->addWidget(SendToButton);
  MakeIniCheck = new QCheckBox(QStringLiteral("現在の設定を保存して使用"));
  AtOnceCheck = new QCheckBox(QStringLiteral("即時変換にする"));
  auto *Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(Buttons, &QDialogButtonBox::accepted, this, &TCreateShortCutForm::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &TCreateShortCutForm::reject);
  connect(MakeIniCheck, &QCheckBox::toggled, AtOnceCheck, &QWidget::setEnabled);

  auto *Form = new QFormLayout;
  Form->addRow(QStringLiteral("名前"), NameEdit);
  auto *Layout = new QVBoxLayout(this);
  Layout->addLayout(Form);
  Layout->addWidget(Place);
  Layout->addWidget(MakeIniCheck);
  Layout->addWidget(AtOnceCheck);
  Layout->addWidget(Buttons);

  const TWindowSettings &S = WindowSettings;
  (S.ShortCutDesktop ? DesktopButton : SendToButton)->setChecked(true);
  MakeIniCheck->setChecked(S.ShortCutMakeIni);
  AtOnceCheck->setChecked(S.ShortCutAtOnce);
  AtOnceCheck->setEnabled(S.ShortCutMakeIni);
}

TShortcutRequest TCreateShortCutForm::Request() const {
  TShortcutRequest R;
  R.Name = NameEdit->text().toStdString();
  R.Desktop = DesktopButton->isChecked();
  R.MakeIni = MakeIniCheck->isChecked();
  R.AtOnce = AtOnceCheck->isChecked();
  return R;
}

void TCreateShortCutForm::accept() {
  const TShortcutRequest R = Request();
  if (R.Name.empty()) return;
  std::string Error;
  const TShortcutResult Result = CreateShortcut(
      R, FProgram, FIcon, FEffects,
      [this](const std::string &Question) {
        return QMessageBox::warning(this, windowTitle(), QString::fromStdString(Question),
                                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
      },
      Error);
  if (Result == TShortcutResult::Failed) QMessageBox::critical(this, windowTitle(), QString::fromStdString(Error));
  if (Result == TShortcutResult::Created) QDialog::accept();
}
