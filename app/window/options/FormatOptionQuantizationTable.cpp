// The registration dialog of quantisation tables: a JPEG dropped on it gives
// the tables, a name files them into "LumaQT/" and "ChromaQT/".
#include "app/window/options/FormatOptionForm.h"

#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

TQuantizationTableDialog::TQuantizationTableDialog(const TFormatOptionPlace &Place, QWidget *Parent)
    : QDialog(Parent), FPlace(Place), FForm(Place.DataFolder) {
  setWindowTitle(QStringLiteral("量子化テーブルの登録"));
  setAcceptDrops(true);
  auto *L = new QVBoxLayout(this);
  // "&&" is the prompt's own text: a label shows it as "&".
  Prompt = new QLabel(QString::fromUtf8(QT_DROP_PROMPT).replace(QStringLiteral("&&"), QStringLiteral("&")), this);
  Prompt->setMinimumSize(460, 80);
  Prompt->setWordWrap(true);
  Prompt->setAlignment(Qt::AlignCenter);
  Prompt->setFrameShape(QFrame::StyledPanel);
  L->addWidget(Prompt);
  auto *NameRow = new QHBoxLayout;
  NameRow->addWidget(new QLabel(QStringLiteral("名前"), this));
  Name = new QLineEdit(this);
  NameRow->addWidget(Name, 1);
  RegisterButton = new QPushButton(QStringLiteral("登録"), this);
  NameRow->addWidget(RegisterButton);
  L->addLayout(NameRow);
  Message = new QLabel(this);
  Message->setStyleSheet(QStringLiteral("color: #b00020"));
  L->addWidget(Message);
  Counter = new QLabel(QString::fromStdString(FForm.Counter()), this);
  L->addWidget(Counter);
  auto *Box = new QDialogButtonBox(this);
  Box->addButton(QStringLiteral("閉じる"), QDialogButtonBox::AcceptRole);
  L->addWidget(Box);
  connect(Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Name, &QLineEdit::textChanged, this, &TQuantizationTableDialog::ApplyEnabling);
  connect(RegisterButton, &QPushButton::clicked, this, &TQuantizationTableDialog::Register);
  ApplyEnabling();
}

void TQuantizationTableDialog::ApplyEnabling() { RegisterButton->setEnabled(FForm.CanRegister(Name->text().toStdString())); }

void TQuantizationTableDialog::DropFile(const QString &Path) {
  FForm.Drop(Path.toStdString());
  Prompt->setText(QString::fromStdString(FForm.Label));
  Message->clear();
  ApplyEnabling();
}

bool TQuantizationTableDialog::Register() {
  const std::string N = Name->text().toStdString();
  if (!FForm.CanRegister(N)) return false;
  if (const std::string Fault = TQuantizationTableForm::NameFault(N); !Fault.empty()) {
    Message->setText(QString::fromStdString(Fault));
    return false;
  }
  if (const std::string Question = FForm.OverwriteQuestion(N); !Question.empty() &&
                                                               !FPlace.Confirm(QString::fromStdString(Question)))
    return false;
  try {
    FForm.Register(N);
  } catch (const std::exception &E) {
    Message->setText(QString::fromStdString(E.what()));
    return false;
  }
  Message->clear();
  Counter->setText(QString::fromStdString(FForm.Counter()));
  return true;
}

void TQuantizationTableDialog::dragEnterEvent(QDragEnterEvent *E) {
  // One file at a time.
  if (E->mimeData()->hasUrls() && E->mimeData()->urls().size() == 1 && E->mimeData()->urls()[0].isLocalFile())
    E->acceptProposedAction();
}

void TQuantizationTableDialog::dropEvent(QDropEvent *E) {
  const QList<QUrl> Urls = E->mimeData()->urls();
  if (Urls.size() != 1 || !Urls[0].isLocalFile()) return;
  DropFile(Urls[0].toLocalFile());
  E->acceptProposedAction();
}
