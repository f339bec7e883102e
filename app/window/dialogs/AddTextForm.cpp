// The text overlay's dialog.
#include "app/window/dialogs/AddTextForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "batch/ImageInfo.h"
#include "effects/FontCache.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString Q(const char *S) { return QString::fromUtf8(S); }

// Offsets and margins are pixels of pictures of any size.
constexpr int OffsetRange = 100000;

QSpinBox *IntEdit(QWidget *Parent, int Min, int Max) {
  auto *E = new QSpinBox(Parent);
  E->setRange(Min, Max);
  E->setMinimumWidth(72);
  return E;
}

QDoubleSpinBox *RealEdit(QWidget *Parent, double Min, double Max) {
  auto *E = new QDoubleSpinBox(Parent);
  E->setRange(Min, Max);
  E->setDecimals(1);
  E->setSingleStep(0.5);
  E->setMinimumWidth(72);
  return E;
}

// The memo shows line breaks as the editor's own; the record holds CR LF.
QString MemoText(const std::string &Text) {
  QString s = QString::fromStdString(Text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QChar('\r'), QChar('\n'));
  return s;
}
std::string RecordText(const QString &Memo) {
  QString s = Memo;
  s.replace(QChar('\n'), QStringLiteral("\r\n"));
  return s.toStdString();
}

}  // namespace

void TTextEntryInfo::Into(TEffectParams &Params) const {
  Params.InFileName = InFileName;
  Params.OutFileName = OutFileName;
  Params.Number = Number;
  Params.Time = Time;
}

TAddTextForm::TAddTextForm(TAddTextEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TBlockPreviewForm(Ctx, Parent), FEffect(Effect), FColors(SystemOption.CustomPalette),
      FEngines(TEngineSet::FromPrototypes()->CreateFor(1)), FFontCache(std::make_shared<TFontCache>()) {
  setWindowTitle(Q("文字入れ"));
  auto *Column = new QVBoxLayout(this);

  TextEdit = new QPlainTextEdit(this);
  TextEdit->setFixedHeight(72);
  Column->addWidget(new QLabel(Q("文字列"), this));
  Column->addWidget(TextEdit);

  auto *Grid = new QGridLayout;
  int Row = 0;
  PositionBox = new QComboBox(this);
  for (const char *I : {"左上", "左中", "左下", "中上", "中中", "中下", "右上", "右中", "右下"}) PositionBox->addItem(Q(I));
  XEdit = IntEdit(this, -OffsetRange, OffsetRange);
  YEdit = IntEdit(this, -OffsetRange, OffsetRange);
  Grid->addWidget(new QLabel(Q("基準位置"), this), Row, 0);
  Grid->addWidget(PositionBox, Row++, 1);
  Grid->addWidget(new QLabel(Q("X"), this), Row, 0);
  Grid->addWidget(XEdit, Row, 1);
  Grid->addWidget(new QLabel(Q("Y"), this), Row, 2);
  Grid->addWidget(YEdit, Row++, 3);

  FontButton = new QPushButton(Q("フォント..."), this);
  FontLabel = new QLabel(this);
  Grid->addWidget(FontButton, Row, 0);
  Grid->addWidget(FontLabel, Row++, 1, 1, 3);
  FontColorButton = new TColorButton(FColors, this);
  FontOpacityEdit = IntEdit(this, 0, 100);
  Grid->addWidget(new QLabel(Q("文字色"), this), Row, 0);
  Grid->addWidget(FontColorButton, Row, 1);
  Grid->addWidget(new QLabel(Q("不透明度"), this), Row, 2);
  Grid->addWidget(FontOpacityEdit, Row++, 3);
  BackColorButton = new TColorButton(FColors, this);
  BackOpacityEdit = IntEdit(this, 0, 100);
  Grid->addWidget(new QLabel(Q("背景色"), this), Row, 0);
  Grid->addWidget(BackColorButton, Row, 1);
  Grid->addWidget(new QLabel(Q("不透明度"), this), Row, 2);
  Grid->addWidget(BackOpacityEdit, Row++, 3);
  MarginXEdit = IntEdit(this, -OffsetRange, OffsetRange);
  MarginYEdit = IntEdit(this, -OffsetRange, OffsetRange);
  Grid->addWidget(new QLabel(Q("余白 X"), this), Row, 0);
  Grid->addWidget(MarginXEdit, Row, 1);
  Grid->addWidget(new QLabel(Q("Y"), this), Row, 2);
  Grid->addWidget(MarginYEdit, Row++, 3);
  LinePitchEdit = RealEdit(this, -1000, 1000);
  Grid->addWidget(new QLabel(Q("行間"), this), Row, 0);
  Grid->addWidget(LinePitchEdit, Row++, 1);
  Column->addLayout(Grid);

  ShadowBox = new QGroupBox(Q("ドロップシャドウ"), this);
  ShadowBox->setCheckable(true);
  auto *SG = new QGridLayout(ShadowBox);
  ShadowColorButton = new TColorButton(FColors, ShadowBox);
  ShadowOpacityEdit = IntEdit(ShadowBox, 0, 100);
  ShadowRadiusEdit = RealEdit(ShadowBox, 0, 100);
  ShadowOffsetXEdit = IntEdit(ShadowBox, -1000, 1000);
  ShadowOffsetYEdit = IntEdit(ShadowBox, -1000, 1000);
  ShadowStrEdit = IntEdit(ShadowBox, 0, 100);
  SG->addWidget(new QLabel(Q("色"), ShadowBox), 0, 0);
  SG->addWidget(ShadowColorButton, 0, 1);
  SG->addWidget(new QLabel(Q("不透明度"), ShadowBox), 0, 2);
  SG->addWidget(ShadowOpacityEdit, 0, 3);
  SG->addWidget(new QLabel(Q("ぼかし半径"), ShadowBox), 1, 0);
  SG->addWidget(ShadowRadiusEdit, 1, 1);
  SG->addWidget(new QLabel(Q("強さ"), ShadowBox), 1, 2);
  SG->addWidget(ShadowStrEdit, 1, 3);
  SG->addWidget(new QLabel(Q("オフセット X"), ShadowBox), 2, 0);
  SG->addWidget(ShadowOffsetXEdit, 2, 1);
  SG->addWidget(new QLabel(Q("Y"), ShadowBox), 2, 2);
  SG->addWidget(ShadowOffsetYEdit, 2, 3);
  Column->addWidget(ShadowBox);

  GlowBox = new QGroupBox(Q("グロー"), this);
  GlowBox->setCheckable(true);
  auto *GG = new QGridLayout(GlowBox);
  GlowColorButton = new TColorButton(FColors, GlowBox);
  GlowOpacityEdit = IntEdit(GlowBox, 0, 100);
  GlowRadiusEdit = RealEdit(GlowBox, 0, 100);
  GlowStrEdit = IntEdit(GlowBox, 0, 100);
  GG->addWidget(new QLabel(Q("色"), GlowBox), 0, 0);
  GG->addWidget(GlowColorButton, 0, 1);
  GG->addWidget(new QLabel(Q("不透明度"), GlowBox), 0, 2);
  GG->addWidget(GlowOpacityEdit, 0, 3);
  GG->addWidget(new QLabel(Q("ぼかし半径"), GlowBox), 1, 0);
  GG->addWidget(GlowRadiusEdit, 1, 1);
  GG->addWidget(new QLabel(Q("強さ"), GlowBox), 1, 2);
  GG->addWidget(GlowStrEdit, 1, 3);
  Column->addWidget(GlowBox);
  Column->addWidget(PreviewBox);
  Column->addStretch(1);

  Column->addLayout(OKCancelRow(this));

  // Copy in.
  const TAddTextParam &P = Effect.FParam;
  TextEdit->setPlainText(MemoText(Effect.FText));
  PositionBox->setCurrentIndex(std::clamp(P.Position, 0, 8));
  XEdit->setValue(P.XOffset);
  YEdit->setValue(P.YOffset);
  Font = Effect.FFont;
  ShowFont();
  FontColorButton->SetColor(int32_t(Font.Color));
  FontOpacityEdit->setValue(P.FontOpacity);
  BackColorButton->SetColor(P.BackColor);
  BackOpacityEdit->setValue(P.BackOpacity);
  MarginXEdit->setValue(P.MarginX);
  MarginYEdit->setValue(P.MarginY);
  LinePitchEdit->setValue(P.LinePitch);
  ShadowBox->setChecked(P.Shadow != LongFalse);
  ShadowColorButton->SetColor(P.ShadowColor);
  ShadowOpacityEdit->setValue(P.ShadowOpacity);
  ShadowRadiusEdit->setValue(P.ShadowRadius);
  ShadowOffsetXEdit->setValue(P.ShadowOffsetX);
  ShadowOffsetYEdit->setValue(P.ShadowOffsetY);
  ShadowStrEdit->setValue(P.ShadowStr);
  GlowBox->setChecked(P.Glow != LongFalse);
  GlowColorButton->SetColor(P.GlowColor);
  GlowOpacityEdit->setValue(P.GlowOpacity);
  GlowRadiusEdit->setValue(P.GlowRadius);
  GlowStrEdit->setValue(P.GlowStr);

  connect(FontButton, &QPushButton::clicked, this, &TAddTextForm::ChooseFont);
  connect(TextEdit, &QPlainTextEdit::textChanged, this, &TAddTextForm::ValuesChanged);
  connect(PositionBox, &QComboBox::currentIndexChanged, this, &TAddTextForm::ValuesChanged);
  for (QSpinBox *E : {XEdit, YEdit, FontOpacityEdit, BackOpacityEdit, MarginXEdit, MarginYEdit, ShadowOpacityEdit,
                      ShadowOffsetXEdit, ShadowOffsetYEdit, ShadowStrEdit, GlowOpacityEdit, GlowStrEdit})
    connect(E, &QSpinBox::valueChanged, this, &TAddTextForm::ValuesChanged);
  for (QDoubleSpinBox *E : {LinePitchEdit, ShadowRadiusEdit, GlowRadiusEdit})
    connect(E, &QDoubleSpinBox::valueChanged, this, &TAddTextForm::ValuesChanged);
  for (TColorButton *B : {FontColorButton, BackColorButton, ShadowColorButton, GlowColorButton})
    connect(B, &TColorButton::ColorChanged, this, &TAddTextForm::ValuesChanged);
  for (QGroupBox *G : {ShadowBox, GlowBox}) connect(G, &QGroupBox::toggled, this, &TAddTextForm::ValuesChanged);
  StartPreview(XEdit, YEdit);
}

TAddTextForm::~TAddTextForm() = default;

void TAddTextForm::LoadPreviewImage() {
  TBlockPreviewForm::LoadPreviewImage();
  FEntry = {};
  const TPreviewContext &Ctx = Context();
  if (Ctx.List && ImgIndex >= 0 && ImgIndex < Ctx.List->Count()) {
    const TImageInfo &Entry = *Ctx.List->Items(ImgIndex);
    FEntry.InFileName = Entry.FPath;
    FEntry.Number = ImgIndex;
    FEntry.Time = Entry.DateTimeOriginal != 0 ? Entry.DateTimeOriginal : Entry.DateTimeLastWrite;
    if (Ctx.OutputNameOf) {
      FEntry.OutFileName = Ctx.OutputNameOf(ImgIndex);
    } else {
      TScale Scale;
      if (Ctx.Effects) Ctx.Effects->CanDownScalingLoad(Entry, Scale);
      FEntry.OutFileName = ExpandFileNameTemplate(FileOption.FileNameFormat, Entry, ImgIndex, Scale, CurrentRunSettings());
    }
  }
  PlaceBlock();
}

void TAddTextForm::ValuesChanged() {
  PlaceBlock();
  RequestPreview();
}

void TAddTextForm::PlaceBlock() {
  const TICCImgInfo *M = Master();
  if (!M) {
    FDrag.SetBlock({});
    return;
  }
  TEffectParams Params;
  FEngines->Bind(Params);
  Params.FontCache = FFontCache;
  FEntry.Into(Params);
  const TTextBlock B = Values()->PlaceTextBlock(int32_t(M->Width), int32_t(M->Height), Params);
  FDrag.SetBlock(B.Mask->Mem ? QRect(B.X, B.Y, int(B.Mask->Width), int(B.Mask->Height)) : QRect());
}

TPreviewStep TAddTextForm::MakePreviewStep() const {
  const std::shared_ptr<const TAddTextEffect> E = Values();
  const TTextEntryInfo Entry = FEntry;
  const QRect Block = FDrag.Block();
  const int32_t Height = Master() ? int32_t(Master()->Height) : 0;
  return [E, Entry, Block, Height](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    Entry.Into(Env.Params);
    if (!Env.Spot) {
      E->DoEffect(Img, Env.Params);
      return;
    }
    // The visible rectangle gets the block where it lies on the whole
    // picture: anchored top left, at the block's place less the rectangle's.
    const QRect At = PictureRectOfStored(Env.SpotRect, Height);
    TAddTextEffect Shifted;
    Shifted.FText = E->FText;
    Shifted.FFont = E->FFont;
    Shifted.FParam = E->FParam;
    Shifted.FParam.Position = 0;
    Shifted.FParam.XOffset = Block.left() - At.left();
    Shifted.FParam.YOffset = Block.top() - At.top();
    Shifted.DoEffect(Img, Env.Params);
  };
}

void TAddTextForm::ShowFont() {
  QString s = QString::fromStdString(Font.Name) + QStringLiteral("  %1pt").arg(Font.Size);
  if (Font.Style & FONT_STYLE_BOLD) s += Q(" 太字");
  if (Font.Style & FONT_STYLE_ITALIC) s += Q(" 斜体");
  if (Font.Style & FONT_STYLE_UNDERLINE) s += Q(" 下線");
  if (Font.Style & FONT_STYLE_STRIKEOUT) s += Q(" 取り消し線");
  FontLabel->setText(s);
}

void TAddTextForm::ChooseFont() {
  QFont Current(QString::fromStdString(Font.Name), std::max(1, Font.Size));
  Current.setBold(Font.Style & FONT_STYLE_BOLD);
  Current.setItalic(Font.Style & FONT_STYLE_ITALIC);
  Current.setUnderline(Font.Style & FONT_STYLE_UNDERLINE);
  Current.setStrikeOut(Font.Style & FONT_STYLE_STRIKEOUT);
  bool Ok = false;
  const QFont Chosen = QFontDialog::getFont(&Ok, Current, this, Q("フォント"));
  if (!Ok) return;
  Font.Name = Chosen.family().toStdString();
  if (Chosen.pointSize() > 0) Font.Size = Chosen.pointSize();
  Font.Style = (Chosen.bold() ? FONT_STYLE_BOLD : 0) | (Chosen.italic() ? FONT_STYLE_ITALIC : 0) |
               (Chosen.underline() ? FONT_STYLE_UNDERLINE : 0) | (Chosen.strikeOut() ? FONT_STYLE_STRIKEOUT : 0);
  ShowFont();
  ValuesChanged();
}

std::unique_ptr<TAddTextEffect> TAddTextForm::Values() const {
  auto V = std::make_unique<TAddTextEffect>();
  V->FText = RecordText(TextEdit->toPlainText());
  V->FFont = Font;
  V->FFont.Color = uint32_t(FontColorButton->Color());
  // Starting from the effect's record keeps what no control shows (the padding).
  TAddTextParam &P = V->FParam;
  P = FEffect.FParam;
  P.Position = PositionBox->currentIndex();
  P.XOffset = XEdit->value();
  P.YOffset = YEdit->value();
  P.FontOpacity = FontOpacityEdit->value();
  P.BackColor = BackColorButton->Color();
  P.BackOpacity = BackOpacityEdit->value();
  P.MarginX = MarginXEdit->value();
  P.MarginY = MarginYEdit->value();
  P.LinePitch = LinePitchEdit->value();
  P.Shadow = ShadowBox->isChecked() ? LongTrue : LongFalse;
  P.ShadowColor = ShadowColorButton->Color();
  P.ShadowOpacity = ShadowOpacityEdit->value();
  P.ShadowRadius = ShadowRadiusEdit->value();
  P.ShadowOffsetX = ShadowOffsetXEdit->value();
  P.ShadowOffsetY = ShadowOffsetYEdit->value();
  P.ShadowStr = ShadowStrEdit->value();
  P.Glow = GlowBox->isChecked() ? LongTrue : LongFalse;
  P.GlowColor = GlowColorButton->Color();
  P.GlowOpacity = GlowOpacityEdit->value();
  P.GlowRadius = GlowRadiusEdit->value();
  P.GlowStr = GlowStrEdit->value();
  return V;
}

void TAddTextForm::accept() {
  const std::unique_ptr<TAddTextEffect> V = Values();
  FEffect.FText = V->FText;
  FEffect.FFont = V->FFont;
  FEffect.FParam = V->FParam;
  FColors.Commit();
  QDialog::accept();
}

namespace {

const TEffectDialogRegistrar Registrar(EFFECT_ADD_TEXT, [](TEffect &E, const TPreviewContext &Ctx, QWidget *Parent) {
  if (auto *Text = dynamic_cast<TAddTextEffect *>(&E)) {
    TAddTextForm Form(*Text, Ctx, Parent);
    Form.exec();
  }
});

}  // namespace
