// The format dialog: seven page dialogs on tabs, stored in page order on OK.
#include "app/window/options/FormatOptionForm.h"

#include "app/SettingsFile.h"
#include "batch/ConvertOption.h"
#include "core/ProgramFolder.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// 0x00BBGGRR to a colour and back.
QColor ColorOf(uint32_t C) { return QColor(int(C & 0xFF), int((C >> 8) & 0xFF), int((C >> 16) & 0xFF)); }
uint32_t ColorRefOf(const QColor &C) { return uint32_t(C.red()) | uint32_t(C.green()) << 8 | uint32_t(C.blue()) << 16; }

}  // namespace

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
    for (int i = 0; i < 16 && i < QColorDialog::customCount(); ++i)
      QColorDialog::setCustomColor(i, ColorOf(uint32_t(Custom[size_t(i)])));
    QColorDialog Dialog(ColorOf(Color), QApplication::activeWindow());
    const bool Ok = Dialog.exec() == QDialog::Accepted;
    // The custom colours follow the user whether or not a colour was chosen.
    for (int i = 0; i < 16 && i < QColorDialog::customCount(); ++i)
      Custom[size_t(i)] = int32_t(ColorRefOf(QColorDialog::customColor(i)));
    if (Ok) Color = ColorRefOf(Dialog.selectedColor());
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
