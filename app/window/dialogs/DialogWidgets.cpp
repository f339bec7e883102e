// Scroll field and preview boxes of the geometry and tone dialogs.
#include "app/window/dialogs/DialogWidgets.h"

#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/ImageInfo.h"

#include "app/window/dialogs/SizeFieldRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
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

TValueFieldRows AddValueFieldRows(QWidget *Parent, QGridLayout *Grid, const QStringList &Types) {
  TValueFieldRows R;
  R.TypeBox = new QComboBox(Parent);
  R.TypeBox->addItems(Types);
  R.ExpBox = new QComboBox(Parent);
  R.ExpBox->addItems({QStringLiteral("W >= H  or  W < H"), QStringLiteral("W > H  or  W <= H"), QStringLiteral("ALL")});
  R.LandscapeLabel = new QLabel(Parent);
  R.PortraitLabel = new QLabel(Parent);
  R.LandscapeEdit = new QLineEdit(Parent);
  R.PortraitEdit = new QLineEdit(Parent);
  R.LandscapeEdit->setMinimumWidth(220);
  Grid->addWidget(R.TypeBox, 0, 0, 1, 2);
  Grid->addWidget(R.ExpBox, 1, 0, 1, 2);
  Grid->addWidget(R.LandscapeLabel, 2, 0);
  Grid->addWidget(R.LandscapeEdit, 2, 1);
  Grid->addWidget(R.PortraitLabel, 3, 0);
  Grid->addWidget(R.PortraitEdit, 3, 1);
  return R;
}

void ShowCondition(const TValueFieldRows &Rows) {
  static const char *const Landscape[3] = {"W >= H", "W > H", "ALL"};
  static const char *const Portrait[3] = {"W < H", "W <= H", ""};
  const int C = std::clamp(Rows.ExpBox->currentIndex(), 0, 2);
  Rows.LandscapeLabel->setText(QString::fromUtf8(Landscape[C]));
  Rows.PortraitLabel->setText(QString::fromUtf8(Portrait[C]));
  Rows.PortraitLabel->setVisible(C != 2);
  Rows.PortraitEdit->setVisible(C != 2);
}

void FieldCheckSize(const TPreviewBaseForm &Form, int32_t &w, int32_t &h) {
  const TICCImgInfo *M = Form.Master();
  w = M ? int32_t(M->Width) : SIZE_FIELD_CHECK_DEFAULT;
  h = M ? int32_t(M->Height) : SIZE_FIELD_CHECK_DEFAULT;
}

void WireValueFieldRows(TPreviewBaseForm &Form, const TValueFieldRows &Rows,
                        std::function<QString(int Type)> DefaultText) {
  QObject::connect(Rows.TypeBox, &QComboBox::currentIndexChanged, &Form, [&Form, Rows, DefaultText](int Type) {
    Rows.LandscapeEdit->setText(DefaultText(Type));
    Rows.PortraitEdit->setText(DefaultText(Type));
    Form.RequestPreview();
  });
  QObject::connect(Rows.ExpBox, &QComboBox::currentIndexChanged, &Form, [&Form, Rows] {
    ShowCondition(Rows);
    Form.RequestPreview();
  });
}
