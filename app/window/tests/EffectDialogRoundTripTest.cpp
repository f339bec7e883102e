// Every effect dialog, opened the way the main window opens it (through the
// dialog registry, modally, over a list with one photo): OK stores exactly
// the values edited in its controls into the effect, Cancel leaves every
// setting the effect writes as it was, and a dialog with expressions stays
// open with the evaluation message when one does not evaluate.
//
// A dialog joins by adding a row to Rows (and, with expressions, to
// BadExpressionRows). Each dialog has the buttons "OK" and "キャンセル".
#include "app/window/LevelsForm.h"
#include "app/window/tests/DialogTestEnv.h"
#include "core/IniFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

[[maybe_unused]] ::testing::Environment *const Environment =
    ::testing::AddGlobalTestEnvironment(new dialogtest::TEnvironment);

struct TDialogRow {
  const char *Name;  // the test's name: letters, digits and "_"
  uint32_t EffectID;
  // Sets the dialog's controls to values other than the effect's defaults.
  std::function<void(QDialog &D)> Edit;
  // The effect holds exactly the edited values (and its other settings
  // unchanged).
  std::function<void(const TEffect &E)> CheckEdited;
};

template <class T>
T &Find(QDialog &D, const char *What) {
  T *W = dynamic_cast<T *>(&D);
  if (!W) ADD_FAILURE() << "the open dialog is not " << What;
  return *W;
}

const TDialogRow Rows[] = {
    {"Levels", EFFECT_LEVELS,
     [](QDialog &D) {
       TLevelsForm &F = Find<TLevelsForm>(D, "the levels dialog");
       F.ChannelBox->setCurrentIndex(1);  // "Red"
       F.InputBlack->setValue(12);
       F.InputWhite->setValue(240);
       F.GammaEdit->setValue(1.5);
       F.OutputBlack->setValue(5);
       F.OutputWhite->setValue(250);
       F.ChannelBox->setCurrentIndex(0);  // "輝度"
       F.InputBlack->setValue(3);
       F.AutoBox->setCurrentIndex(2);  // "RGB(個別)"
       F.ShadowEdit->setValue(0.25);
       F.HighlightEdit->setValue(0.5);
       F.LinearCheck->setChecked(true);
       F.PreviewCheck->setChecked(false);
       F.HistogramCheck->setChecked(false);
       F.ScaleBox->setCurrentIndex(1);  // "対数"
     },
     [](const TEffect &E) {
       const auto &L = dynamic_cast<const TLevelsAdjust &>(E);
       EXPECT_EQ(L.FInputMin, (std::array<int32_t, 4>{3, 12, 0, 0}));
       EXPECT_EQ(L.FInputMax, (std::array<int32_t, 4>{255, 240, 255, 255}));
       EXPECT_EQ(L.FGamma, (std::array<double, 4>{1.0, 1.5, 1.0, 1.0}));
       EXPECT_EQ(L.FShadowOut, (std::array<int32_t, 4>{0, 5, 0, 0}));
       EXPECT_EQ(L.FHighlightOut, (std::array<int32_t, 4>{255, 250, 255, 255}));
       EXPECT_EQ(L.FAutoMode, 2u);
       EXPECT_EQ(L.FClipShadow, 25u);
       EXPECT_EQ(L.FClipHighlight, 50u);
       EXPECT_TRUE(L.FDegamma);
       EXPECT_FALSE(L.FLab);
       EXPECT_FALSE(L.FPreview);
       EXPECT_FALSE(L.FHistogram);
       EXPECT_EQ(L.FHistogramType, 1u);
     }},
};

// A row whose Edit puts an expression that does not evaluate into a field.
struct TBadExpressionRow {
  const char *Name;
  uint32_t EffectID;
  std::function<void(QDialog &D)> Edit;
};
const std::vector<TBadExpressionRow> BadExpressionRows = {
};

QPushButton *Button(QWidget &D, const QString &Text) {
  for (QPushButton *B : D.findChildren<QPushButton *>())
    if (B->text() == Text) return B;
  return nullptr;
}

// Runs While on the dialog once it is open and modal; answers when the
// dialog has closed. While must close it.
void WithDialog(const std::function<void(QWidget *Modal)> &While, const std::function<void()> &OpenModal) {
  bool Done = false;
  std::function<void()> Poll;
  Poll = [&] {
    QWidget *M = QApplication::activeModalWidget();
    if (!M) {
      QTimer::singleShot(5, Poll);
      return;
    }
    Done = true;
    While(M);
  };
  QTimer::singleShot(0, Poll);
  OpenModal();
  EXPECT_TRUE(Done) << "the dialog never became the modal window";
}

class EffectDialogRoundTrip : public ::testing::TestWithParam<TDialogRow> {
protected:
  void SetUp() override {
    Fixture.Add("photo", 160, 120, [](int x, int y) { return qRgb(x, y * 2, (x + y) % 256); });
    Effect = Fixture.Effects.FindByID(GetParam().EffectID);
    ASSERT_NE(Effect, nullptr);
    Open = FindEffectDialog(GetParam().EffectID);
    ASSERT_NE(Open, nullptr) << "no dialog is registered for effect " << GetParam().EffectID;
  }
  std::string Settings() const {
    TMemIniFile Ini;
    Effect->WriteIniFile(Ini);
    return Ini.SaveToBytes();
  }
  void Run(const QString &Press) {
    WithDialog(
        [&](QWidget *M) {
          auto *D = qobject_cast<QDialog *>(M);
          ASSERT_NE(D, nullptr);
          GetParam().Edit(*D);
          QPushButton *B = Button(*D, Press);
          ASSERT_NE(B, nullptr) << "no button " << Press.toStdString();
          B->click();
          if (D->isVisible()) {
            ADD_FAILURE() << "the dialog stayed open after " << Press.toStdString();
            D->reject();
          }
        },
        [&] { (*Open)(*Effect, Fixture.Context(), nullptr); });
  }
  dialogtest::TDialogFixture Fixture;
  TEffect *Effect = nullptr;
  const TEffectDialogOpener *Open = nullptr;
};

TEST_P(EffectDialogRoundTrip, OKStoresExactlyTheEditedValues) {
  Run(QStringLiteral("OK"));
  GetParam().CheckEdited(*Effect);
}

TEST_P(EffectDialogRoundTrip, CancelChangesNoSetting) {
  const std::string Before = Settings();
  Run(QStringLiteral("キャンセル"));
  EXPECT_EQ(Settings(), Before);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, EffectDialogRoundTrip, ::testing::ValuesIn(Rows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

class EffectDialogBadExpression : public ::testing::TestWithParam<TBadExpressionRow> {};

TEST_P(EffectDialogBadExpression, KeepsTheDialogOpenWithTheEvaluationMessage) {
  dialogtest::TDialogFixture Fixture;
  Fixture.Add("photo", 160, 120, [](int x, int y) { return qRgb(x, y, 128); });
  TEffect *Effect = Fixture.Effects.FindByID(GetParam().EffectID);
  ASSERT_NE(Effect, nullptr);
  const TEffectDialogOpener *Open = FindEffectDialog(GetParam().EffectID);
  ASSERT_NE(Open, nullptr);
  TMemIniFile Before;
  Effect->WriteIniFile(Before);
  QString Message;
  bool StayedOpen = false;
  WithDialog(
      [&](QWidget *M) {
        auto *D = qobject_cast<QDialog *>(M);
        ASSERT_NE(D, nullptr);
        GetParam().Edit(*D);
        // The message box is modal over the dialog: read it and close it.
        std::function<void()> Answer;
        Answer = [&] {
          auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
          if (!Box) {
            QTimer::singleShot(5, Answer);
            return;
          }
          Message = Box->text();
          Box->accept();
        };
        QTimer::singleShot(0, Answer);
        Button(*D, QStringLiteral("OK"))->click();
        StayedOpen = D->isVisible();
        Button(*D, QStringLiteral("キャンセル"))->click();
      },
      [&] { (*Open)(*Effect, Fixture.Context(), nullptr); });
  EXPECT_TRUE(StayedOpen);
  EXPECT_EQ(Message, QStringLiteral("入力されたパラメータの評価でエラーが発生しました"));
  TMemIniFile After;
  Effect->WriteIniFile(After);
  EXPECT_EQ(After.SaveToBytes(), Before.SaveToBytes());
}

// Until a dialog with expressions has its row, the suite has no cases.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EffectDialogBadExpression);
INSTANTIATE_TEST_SUITE_P(Dialogs, EffectDialogBadExpression, ::testing::ValuesIn(BadExpressionRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
