// The shortcut dialog on the offscreen platform: its captions and initial
// states, the enabling rule of "即時変換にする", and OK twice with the
// overwrite question answered through the real message box.
#include "app/ShortcutDialog.h"
#include "app/tests/ProfileSandbox.h"
#include "app/SettingsFile.h"
#include "app/Shortcut.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "core/IniFile.h"
#include "effects/Effect.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

QApplication &App() {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int Argc = 1;
  static char Name[] = "shortcut_dialog_tests";
  static char *Argv[] = {Name, nullptr};
  static QApplication A(Argc, Argv);
  return A;
}

class ShortcutDialog : public TProfileSandbox {
protected:
  void SetUp() override {
    App();
    TProfileSandbox::SetUp();
  }
  // Answers the next message box with Button, once it is shown.
  void AnswerNextBox(QMessageBox::StandardButton Button) {
    QTimer::singleShot(0, [this, Button] {
      auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!Box) return AnswerNextBox(Button);
      BoxText = Box->text().toStdString();
      Box->button(Button)->click();
    });
  }
  std::string BoxText;
};

}  // namespace

TEST_F(ShortcutDialog, StartsFromTheRememberedChoices) {
  WindowSettings.ShortCutDesktop = true;
  WindowSettings.ShortCutMakeIni = false;
  WindowSettings.ShortCutAtOnce = true;
  TCreateShortCutForm Form("/opt/tp/TessivoPlus", "", Effects);
  EXPECT_EQ(Form.windowTitle(), QStringLiteral("ショートカットの作成"));
  EXPECT_EQ(Form.NameEdit->text(), QStringLiteral("TessivoPlus"));
  EXPECT_TRUE(Form.DesktopButton->isChecked());
  EXPECT_EQ(Form.SendToButton->text(), QStringLiteral("SendTo(送るメニュー)"));
  EXPECT_FALSE(Form.MakeIniCheck->isChecked());
  EXPECT_FALSE(Form.AtOnceCheck->isEnabled()) << "only with the settings saved";
  Form.MakeIniCheck->setChecked(true);
  EXPECT_TRUE(Form.AtOnceCheck->isEnabled());
  Form.MakeIniCheck->setChecked(false);
  EXPECT_FALSE(Form.AtOnceCheck->isEnabled());
}

TEST_F(ShortcutDialog, OkTwiceAsksBeforeReplacingAndStaysOnNo) {
  WindowSettings = TWindowSettings();
  const std::string Launcher = Dir + "/xdg/applications/photo.desktop";
  {
    TCreateShortCutForm Form("/opt/tp/TessivoPlus", "", Effects);
    Form.NameEdit->setText(QStringLiteral("photo"));
    Form.AtOnceCheck->setChecked(true);
    Form.accept();
    EXPECT_EQ(Form.result(), QDialog::Accepted);
  }
  ASSERT_TRUE(fs::exists(Launcher));
  EXPECT_TRUE(WindowSettings.ShortCutAtOnce) << "the choices are remembered";
  std::ofstream(SettingsFolder() + "photo.ini", std::ios::app) << "[Mark]\nfirst=1\n";

  TCreateShortCutForm Again("/opt/tp/TessivoPlus", "", Effects);
  Again.NameEdit->setText(QStringLiteral("photo"));
  AnswerNextBox(QMessageBox::No);
  Again.accept();
  EXPECT_EQ(BoxText, Launcher + " は既に存在します。\r\n上書きしますか？");
  EXPECT_NE(Again.result(), QDialog::Accepted) << "No keeps the dialog open";
  EXPECT_TRUE(TMemIniFile(SettingsFolder() + "photo.ini").ValueExists("Mark", "first"));

  AnswerNextBox(QMessageBox::Yes);
  Again.accept();
  EXPECT_EQ(Again.result(), QDialog::Accepted);
  EXPECT_FALSE(TMemIniFile(SettingsFolder() + "photo.ini").ValueExists("Mark", "first"));
  EXPECT_FALSE(fs::exists(SettingsFolder() + "photo[1].ini"));
}
