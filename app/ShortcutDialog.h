// The shortcut dialog "ショートカットの作成": a name, the place ("デスクトップ"
// or "SendTo(送るメニュー)") and whether the current settings go with the
// launcher, converting at once or not. It copies the last choices in and
// leaves every rule to CreateShortcut (app/Shortcut.h).
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class TEffectList;
struct TShortcutRequest;

class TCreateShortCutForm : public QDialog {
  Q_OBJECT
public:
  // Program is what the launcher starts, Icon its picture; Effects the
  // current chain saved with the settings.
  TCreateShortCutForm(const std::string &Program, const std::string &Icon, const TEffectList &Effects,
                      QWidget *Parent = nullptr);

  // The choices as they stand in the controls.
  TShortcutRequest Request() const;

  void accept() override;

  QLineEdit *NameEdit = nullptr;
  QRadioButton *DesktopButton = nullptr;
  QRadioButton *SendToButton = nullptr;
  QCheckBox *MakeIniCheck = nullptr;
  QCheckBox *AtOnceCheck = nullptr;

private:
  std::string FProgram;
  std::string FIcon;
  const TEffectList &FEffects;
};
