// Scroll field and preview boxes of the geometry and tone dialogs.
#include "app/window/dialogs/DialogWidgets.h"

#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/ImageInfo.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

TScrollField::TScrollField(const QString &Caption, int32_t Min, int32_t Max, QWidget *Parent) : QWidget(Parent) {
  Format = [](int32_t P) { return QString::number(P); };
  Parse = [](const QString &T, int32_t &P) {
    bool ok = false;
    P = T.trimmed().toInt(&ok);
    return ok;
  };
  auto *Row = new QHBoxLayout(this);
  Row->setContentsMargins(0, 0, 0, 0);
  Label = new QLabel(Caption, this);
  Label->setMinimumWidth(90);
  Bar = new QScrollBar(Qt::Horizontal, this);
  Bar->setRange(Min, Max);
  Bar->setMinimumWidth(200);
  Edit = new QLineEdit(this);
  Edit->setFixedWidth(64);
  Row->addWidget(Label);
  Row->addWidget(Bar, 1);
  Row->addWidget(Edit);
  connect(Bar, &QScrollBar::valueChanged, this, [this](int V) {
    if (FSettingText) return;
    FSettingText = true;
    Edit->setText(Format(V));
    FSettingText = false;
    if (OnChanged) OnChanged();
  });
  connect(Edit, &QLineEdit::textEdited, this, [this](const QString &T) {
    int32_t P = 0;
    if (!Parse(T, P)) return;
    FSettingText = true;
    Bar->setValue(P);
    FSettingText = false;
    if (OnChanged) OnChanged();
  });
}

void TScrollField::SetText(const QString &Text) {
  FSettingText = true;
  Edit->setText(Text);
  int32_t P = 0;
  if (Parse(Text, P)) Bar->setValue(P);
  FSettingText = false;
}

QString TScrollField::Text() const { return Edit->text(); }

void LoadSelectedEntry(TPreviewBaseForm &Form, const TPreviewContext &Ctx) {
  const int32_t Count = Ctx.List ? Ctx.List->Count() : 0;
  if (Count > 0) Form.SetPreviewImageIndex(std::clamp(Ctx.SelectedIndex, 0, Count - 1));
}

void WirePreviewBoxes(TPreviewBaseForm &Form, QCheckBox *Preview, QCheckBox *Histogram) {
  QObject::connect(Preview, &QCheckBox::toggled, &Form, [&Form](bool On) {
    if (On && Form.DestImage()) {
      Form.PreviewWindow()->show();
      Form.RequestPreview();
    } else {
      Form.PreviewWindow()->hide();
    }
  });
  if (!Histogram) return;
  QObject::connect(Histogram, &QCheckBox::toggled, &Form, [&Form](bool On) {
    Form.ShowHistogramWindow(On);
    Form.RequestPreview();
  });
  Form.HistogramWindow()->OnClosed = [Histogram] { Histogram->setChecked(false); };
}
