// The format dialog: seven page dialogs on tabs, stored in page order on OK.
#include "app/window/options/FormatOptionForm.h"

#include "app/SettingsFile.h"
#include "app/window/dialogs/ColorChoice.h"
#include "batch/ConvertOption.h"
#include "core/ProgramFolder.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

TFormatOptionPlace DefaultFormatOptionPlace() {
  TFormatOptionPlace P;
  P.DataFolder = DataFolder();
  P.BinFolder = ProgramBinFolder();
  P.InputBox = [](const QString &Title, const QString &Prompt, QString &Text) {
    bool Ok = false;
    const QString Answer =
        QInputDialog::getText(QApplication::activeWindow(), Title, Prompt, QLineEdit::Normal, Text, &Ok);
    if (Ok) Text = Answer;
    return Ok;
  };
  P.Warn = [](const QString &Text) {
    QApplication::beep();
    QMessageBox::warning(QApplication::activeWindow(), QStringLiteral("TessivoPlus"), Text);
  };
  P.Confirm = [](const QString &Text) {
    return QMessageBox::question(QApplication::activeWindow(), QStringLiteral("TessivoPlus"), Text) ==
           QMessageBox::Yes;
  };
  P.ChooseColor = [](uint32_t &Color, std::array<int32_t, 16> &Custom) {
    // Custom is the page's copy of the custom colours, which reaches the
    // settings with the page's own OK.
    TColorChoice Choice(Custom);
    int32_t C = int32_t(Color);
    const bool Ok = Choice.Choose(QApplication::activeWindow(), C);
    Choice.Commit();
    if (Ok) Color = uint32_t(C) & 0xFFFFFF;
    return Ok;
  };
  P.RunRegistration = [](TQuantizationTableDialog &Dialog) { Dialog.exec(); };
  return P;
}

TFormatPage::TFormatPage(const QString &Caption, const TFormatOptionPlace &Place, QWidget *Parent)
    : QWidget(Parent), FPlace(Place) {
  setWindowTitle(Caption);
}

TFormatOptionForm::TFormatOptionForm(int32_t Page, TFormatOptionPlace Place, QWidget *Parent)
    : QDialog(Parent), FPlace(std::make_unique<TFormatOptionPlace>(std::move(Place))) {
  setWindowTitle(QStringLiteral("フォーマット設定"));
  auto *Layout = new QVBoxLayout(this);
  Pages = new QTabWidget(this);
  // All seven tabs in view, none behind scroll arrows.
  Pages->setUsesScrollButtons(false);
  Layout->addWidget(Pages);
  BitmapPage = new TBitmapOptionForm(*FPlace);
  JPEGPage = new TJPEGOptionForm(*FPlace);
  PNGPage = new TPNGOptionForm(*FPlace);
  TIFFPage = new TTIFFOptionForm(*FPlace);
  HDPPage = new THDPOptionForm(*FPlace);
  ConvertPage = new TPictureFormatPage(*FPlace);
  MetadataPage = new TMetadataOptionForm(*FPlace);
  Pages->addTab(BitmapPage, QStringLiteral("BMP"));
  Pages->addTab(JPEGPage, QStringLiteral("JPEG"));
  Pages->addTab(PNGPage, QStringLiteral("PNG"));
  Pages->addTab(TIFFPage, QStringLiteral("TIFF"));
  Pages->addTab(HDPPage, QStringLiteral("JPEG XR"));
  Pages->addTab(ConvertPage, QStringLiteral("コンバート"));
  Pages->addTab(MetadataPage, QStringLiteral("メタデータ"));
  Pages->setCurrentIndex(Page >= 0 && Page < FORMAT_PAGE_COUNT ? Page : 0);
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  // The settings dialogs end with "OK" and "キャンセル".
  Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
  Layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &TFormatOptionForm::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

TFormatOptionForm::~TFormatOptionForm() {
  // The pages refer to the place; they go first.
  delete Pages;
}

void TFormatOptionForm::accept() {
  for (TFormatPage *P : std::initializer_list<TFormatPage *>{BitmapPage, JPEGPage, PNGPage, TIFFPage, HDPPage,
                                                            ConvertPage, MetadataPage})
    P->Store();
  WindowSettings.FormatOptionPage = Pages->currentIndex();
  QDialog::accept();
}

bool ShowFormatOptionForm(QWidget *Parent) {
  TFormatOptionForm Form(WindowSettings.FormatOptionPage, DefaultFormatOptionPlace(), Parent);
  return Form.exec() == QDialog::Accepted;
}

bool ShowConvertTableForm(QWidget *Parent) {
  TFormatOptionForm Form(FORMAT_PAGE_CONVERT, DefaultFormatOptionPlace(), Parent);
  return Form.exec() == QDialog::Accepted;
}
