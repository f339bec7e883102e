// The image composite's dialog.
#include "app/window/dialogs/CompositeForm.h"

#include "app/window/dialogs/DialogButtons.h"
#include "app/window/preview/PreviewForm.h"
#include "app/window/preview/PreviewSource.h"
#include "batch/ImageInfo.h"
#include "effects/AddTextEffect.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <exception>
#include <filesystem>

namespace {

QString Q(const char *S) { return QString::fromUtf8(S); }

constexpr int OffsetRange = 100000;

}  // namespace

TCompositeForm::TCompositeForm(TCompositeEffect &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TBlockPreviewForm(Ctx, Parent), FEffect(Effect) {
  setWindowTitle(Q("画像合成の設定"));
  auto *Column = new QVBoxLayout(this);

  ForegroundButton = new QRadioButton(Q("前景画像"), this);
  BackgroundButton = new QRadioButton(Q("背景画像"), this);
  auto *Modes = new QButtonGroup(this);
  Modes->addButton(ForegroundButton, COMPOSITE_FOREGROUND);
  Modes->addButton(BackgroundButton, COMPOSITE_BACKGROUND);
  auto *ModeRow = new QHBoxLayout;
  ModeRow->addWidget(ForegroundButton);
  ModeRow->addWidget(BackgroundButton);
  ModeRow->addStretch(1);
  Column->addLayout(ModeRow);

  FileEdit = new QLineEdit(this);
  FileEdit->setMinimumWidth(260);
  BrowseButton = new QPushButton(Q("参照..."), this);
  auto *FileRow = new QHBoxLayout;
  FileRow->addWidget(FileEdit, 1);
  FileRow->addWidget(BrowseButton);
  Column->addLayout(FileRow);
  FileMessage = new QLabel(this);
  FileMessage->setStyleSheet(QStringLiteral("color: #b00020"));
  FileMessage->setWordWrap(true);
  Column->addWidget(FileMessage);

  auto *Grid = new QGridLayout;
  PositionBox = new QComboBox(this);
  for (const char *I : {"左上", "左中", "左下", "中上", "中心", "中下", "右上", "右中", "右下"}) PositionBox->addItem(Q(I));
  XEdit = new QSpinBox(this);
  YEdit = new QSpinBox(this);
  for (QSpinBox *E : {XEdit, YEdit}) E->setRange(-OffsetRange, OffsetRange);
  OpacityEdit = new QSpinBox(this);
  OpacityEdit->setRange(0, 100);
  Grid->addWidget(new QLabel(Q("基準位置"), this), 0, 0);
  Grid->addWidget(PositionBox, 0, 1);
  Grid->addWidget(new QLabel(Q("X"), this), 1, 0);
  Grid->addWidget(XEdit, 1, 1);
  Grid->addWidget(new QLabel(Q("Y"), this), 1, 2);
  Grid->addWidget(YEdit, 1, 3);
  Grid->addWidget(new QLabel(Q("不透明度"), this), 2, 0);
  Grid->addWidget(OpacityEdit, 2, 1);
  Column->addLayout(Grid);
  Column->addWidget(PreviewBox);
  Column->addStretch(1);

  Column->addLayout(OKCancelRow(this));

  (Effect.FMode == COMPOSITE_BACKGROUND ? BackgroundButton : ForegroundButton)->setChecked(true);
  FileEdit->setText(QString::fromStdString(Effect.FImageFileName));
  PositionBox->setCurrentIndex(std::clamp(Effect.FBasePos, 0, 8));
  XEdit->setValue(Effect.FOffsetX);
  YEdit->setValue(Effect.FOffsetY);
  OpacityEdit->setValue(Effect.FOpacity);
  LoadOverlay();

  connect(BrowseButton, &QPushButton::clicked, this, [this] {
    const QString Name = QFileDialog::getOpenFileName(this, Q("画像ファイル"), FileEdit->text());
    if (!Name.isEmpty()) FileEdit->setText(Name);
  });
  connect(Modes, &QButtonGroup::idToggled, this, [this](int, bool On) {
    if (On) ValuesChanged();
  });
  connect(FileEdit, &QLineEdit::textChanged, this, [this] {
    LoadOverlay();
    ValuesChanged();
  });
  connect(PositionBox, &QComboBox::currentIndexChanged, this, &TCompositeForm::ValuesChanged);
  for (QSpinBox *E : {XEdit, YEdit, OpacityEdit}) connect(E, &QSpinBox::valueChanged, this, &TCompositeForm::ValuesChanged);
  StartPreview(XEdit, YEdit);
}

TCompositeForm::~TCompositeForm() = default;

TCompositeSettings TCompositeForm::Settings() const {
  return TCompositeSettings{BackgroundButton->isChecked() ? COMPOSITE_BACKGROUND : COMPOSITE_FOREGROUND,
                            PositionBox->currentIndex(), XEdit->value(), YEdit->value(), OpacityEdit->value()};
}

std::string TCompositeForm::FileName() const { return FileEdit->text().toStdString(); }

void TCompositeForm::LoadOverlay() {
  const std::string Name = FileName();
  if (Name == FOverlayName) return;
  FOverlayName = Name;
  FOverlay.reset();
  FileMessage->clear();
  std::error_code ec;
  if (Name.empty() || !std::filesystem::is_regular_file(Name, ec)) return;
  try {
    FOverlay = std::make_shared<const TICCImgOwner>(LoadCompositeImage(Name));
  } catch (const std::exception &E) {
    FileMessage->setText(QString::fromStdString(E.what()));
  }
}

void TCompositeForm::LoadPreviewImage() {
  TBlockPreviewForm::LoadPreviewImage();
  PlaceBlock();
}

void TCompositeForm::ValuesChanged() {
  PlaceBlock();
  RequestPreview();
}

void TCompositeForm::PlaceBlock() {
  const TICCImgInfo *M = Master();
  if (!M || !FOverlay) {
    FDrag.SetBlock({});
    return;
  }
  const TCompositeSettings S = Settings();
  const int32_t W = int32_t(M->Width), H = int32_t(M->Height);
  const int32_t w = int32_t((*FOverlay)->Width), h = int32_t((*FOverlay)->Height);
  int32_t x, y;
  // In "背景画像" mode the picture is what lies on the file.
  if (S.Mode == COMPOSITE_BACKGROUND) {
    AnchorPosition(S.BasePos, w, h, W, H, S.OffsetX, S.OffsetY, x, y);
    FDrag.SetBlock(QRect(x, y, W, H));
  } else {
    AnchorPosition(S.BasePos, W, H, w, h, S.OffsetX, S.OffsetY, x, y);
    FDrag.SetBlock(QRect(x, y, w, h));
  }
}

TPreviewStep TCompositeForm::MakePreviewStep() const {
  const std::shared_ptr<const TICCImgOwner> Overlay = FOverlay;
  const TCompositeSettings S = Settings();
  const QRect Block = FDrag.Block();
  const TICCImgInfo *M = Master();
  return [Overlay, S, Block, M](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    if (!Overlay || !M) return;
    if (!Env.Spot) {
      CompositeImages(Img, **Overlay, S, Env.Params);
      return;
    }
    if (S.Mode == COMPOSITE_FOREGROUND) {
      // The visible rectangle gets the overlay where it lies on the whole
      // picture: anchored top left, at its place less the rectangle's.
      const QRect At = PictureRectOfStored(Env.SpotRect, int32_t(M->Height));
      TCompositeSettings Shifted = S;
      Shifted.BasePos = 0;
      Shifted.OffsetX = Block.left() - At.left();
      Shifted.OffsetY = Block.top() - At.top();
      CompositeImages(Img, **Overlay, Shifted, Env.Params);
      return;
    }
    // The result has the file's size, so the rectangle is cut from the whole
    // result rather than from the picture.
    TICCImgOwner Whole;
    CopyPreviewImage(*M, *Whole);
    CompositeImages(*Whole, **Overlay, S, Env.Params);
    TICCImgOwner Part;
    CopyPreviewImage(*Whole, *Part, Env.SpotRect);
    std::swap(Img, *Part);
  };
}

void TCompositeForm::accept() {
  const TCompositeSettings S = Settings();
  FEffect.FMode = S.Mode;
  FEffect.FImageFileName = FileName();
  FEffect.FBasePos = S.BasePos;
  FEffect.FOffsetX = S.OffsetX;
  FEffect.FOffsetY = S.OffsetY;
  FEffect.FOpacity = S.Opacity;
  FEffect.LoadExternalImage();
  TBlockPreviewForm::accept();
}

namespace {

const TEffectDialogRegistrar Registrar(EFFECT_COMPOSITE, [](TEffect &E, const TPreviewContext &Ctx, QWidget *Parent) {
  if (auto *Composite = dynamic_cast<TCompositeEffect *>(&E)) {
    TCompositeForm Form(*Composite, Ctx, Parent);
    Form.exec();
  }
});

}  // namespace
