// The levels dialog.
#include "app/window/LevelsForm.h"

#include "app/SettingsFile.h"
#include "app/window/preview/HistogramForm.h"
#include "app/window/preview/PreviewForm.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "effects/Presets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <span>

void CopyLevelsSettings(const TLevelsAdjust &From, TLevelsAdjust &To) {
  To.FInputMin = From.FInputMin;
  To.FInputMax = From.FInputMax;
  To.FGamma = From.FGamma;
  To.FShadowOut = From.FShadowOut;
  To.FHighlightOut = From.FHighlightOut;
  To.FPreview = From.FPreview;
  To.FHistogram = From.FHistogram;
  To.FDegamma = From.FDegamma;
  To.FAutoMode = From.FAutoMode;
  To.FClipShadow = From.FClipShadow;
  To.FClipHighlight = From.FClipHighlight;
  To.FHistogramType = From.FHistogramType;
  To.FLab = From.FLab;
}

void ResolveAutomaticLevels(const TLevelsAdjust &E, const THistogramCounts &Counts, uint64_t TotalCount, bool Gray,
                            bool LabMode, TLevelsAdjust &Out) {
  CopyLevelsSettings(E, Out);
  Out.FAutoMode = 0;
  auto Range = [&](uint32_t Start) {
    return AutoLevelsRange(std::span(Counts).subspan(Start, 256), TotalCount, E.FClipShadow, E.FClipHighlight);
  };
  auto Identity = [&](size_t c) {
    Out.FInputMin[c] = 0, Out.FInputMax[c] = 255, Out.FGamma[c] = 1.0;
    Out.FShadowOut[c] = 0, Out.FHighlightOut[c] = 255;
  };
  if (E.FAutoMode == 1) {
    // The master takes the range and the channels are not used. A master
    // that still comes out as the identity must not let them apply.
    const TLevelsRange R = Range(LabMode && E.FLab ? HIST_L : (Gray ? HIST_BLUE : HIST_Y));
    Out.FInputMin[0] = R.Black, Out.FInputMax[0] = R.White;
    for (size_t c = 1; c < 4; ++c) Identity(c);
  } else if (E.FAutoMode == 2 || E.FAutoMode == 3) {
    Identity(0);
    if (Gray) {
      for (size_t c = 1; c < 4; ++c) Identity(c);
      return;
    }
    const uint32_t Start[4] = {0, HIST_RED, HIST_GREEN, HIST_BLUE};
    TLevelsRange Common{255, 0};
    for (size_t c = 1; c < 4; ++c) {
      const TLevelsRange R = Range(Start[c]);
      Out.FInputMin[c] = R.Black, Out.FInputMax[c] = R.White;
      Common.Black = std::min(Common.Black, R.Black), Common.White = std::max(Common.White, R.White);
    }
    if (E.FAutoMode == 3)
      for (size_t c = 1; c < 4; ++c) Out.FInputMin[c] = Common.Black, Out.FInputMax[c] = Common.White;
  }
}

namespace {

constexpr int StripLeft = 6;  // x of level 0, as in the histogram window
constexpr int StripWidth = 268;
constexpr int HistogramHeight = 100;
constexpr int TriangleSize = 7;

// Where a midtone gamma puts its slider between the black and white ones:
// the input that comes out as middle gray.
double MidtonePosition(int32_t Black, int32_t White, double Gamma) {
  return Black + (White - Black) * std::pow(0.5, Gamma);
}

}  // namespace

// The input strip (the histogram of the shown channel with the black,
// midtone and white sliders) or the output strip (a gradient with the
// output black and white sliders).
class TLevelsStrip : public QWidget {
public:
  TLevelsStrip(TLevelsForm &Form, bool Output) : QWidget(&Form), F(Form), FOutput(Output) {
    setFixedSize(StripWidth, Output ? 12 + TriangleSize + 4 : HistogramHeight + TriangleSize + 4);
  }

protected:
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *E) override;
  void mouseMoveEvent(QMouseEvent *E) override;
  void mouseReleaseEvent(QMouseEvent *) override { FGrab = -1; }

private:
  // The slider positions in levels: black, midtone (input only), white.
  std::vector<double> Sliders() const;
  void Triangle(QPainter &P, double Level, int Top, QColor Fill) const;
  void MoveSlider(int X);
  TLevelsForm &F;
  bool FOutput;
  int FGrab = -1;
};

std::vector<double> TLevelsStrip::Sliders() const {
  const size_t c = size_t(F.ShownChannel() == 4 ? 1 : F.ShownChannel());
  const TLevelsAdjust &W = F.Working();
  if (FOutput) return {double(W.FShadowOut[c]), double(W.FHighlightOut[c])};
  return {double(W.FInputMin[c]), MidtonePosition(W.FInputMin[c], W.FInputMax[c], W.FGamma[c]),
          double(W.FInputMax[c])};
}

void TLevelsStrip::Triangle(QPainter &P, double Level, int Top, QColor Fill) const {
  const double X = StripLeft + Level;
  const QPointF Pts[3] = {{X, double(Top)}, {X - TriangleSize / 2.0 - 1, double(Top + TriangleSize)},
                          {X + TriangleSize / 2.0 + 1, double(Top + TriangleSize)}};
  P.setPen(Qt::black);
  P.setBrush(Fill);
  P.drawPolygon(Pts, 3);
}

void TLevelsStrip::paintEvent(QPaintEvent *) {
  QPainter P(this);
  P.fillRect(rect(), palette().color(QPalette::Window));
  if (FOutput) {
    for (int l = 0; l < 256; ++l) P.fillRect(StripLeft + l, 0, 1, 12, QColor(l, l, l));
    const std::vector<double> S = Sliders();
    Triangle(P, S[0], 13, Qt::black);
    Triangle(P, S[1], 13, Qt::white);
    return;
  }
  P.fillRect(StripLeft, 0, 256, HistogramHeight, Qt::white);
  const THistogramCounts &H = F.DefaultHistogram();
  const int Shown = F.ShownChannel();
  const bool Lab = F.LabCheck->isChecked() && SystemOption.EnabledLabMode != LongFalse;
  const uint32_t Start = Shown == 0 ? (Lab ? HIST_L : HIST_Y)
                         : Shown == 2 ? HIST_GREEN
                         : Shown == 3 ? HIST_BLUE
                                      : HIST_RED;
  const bool Log = F.ScaleBox->currentIndex() == 1;
  const uint32_t Max = *std::max_element(H.begin() + Start, H.begin() + Start + 256);
  P.setPen(QColor(0x40, 0x40, 0x40));
  for (int l = 0; l < 256 && Max > 0; ++l) {
    const uint32_t C = H[Start + uint32_t(l)];
    if (!C) continue;
    const int Bar = Log ? (Max <= 1 ? HistogramHeight : int(std::log(double(C)) * HistogramHeight / std::log(double(Max))))
                        : int(uint64_t(C) * HistogramHeight / Max);
    if (Bar > 0) P.drawLine(StripLeft + l, HistogramHeight - 1, StripLeft + l, HistogramHeight - Bar);
  }
  const std::vector<double> S = Sliders();
  Triangle(P, S[0], HistogramHeight + 1, Qt::black);
  Triangle(P, S[1], HistogramHeight + 1, Qt::gray);
  Triangle(P, S[2], HistogramHeight + 1, Qt::white);
}

void TLevelsStrip::mousePressEvent(QMouseEvent *E) {
  if (E->button() != Qt::LeftButton) return;
  const double L = E->position().x() - StripLeft;
  const std::vector<double> S = Sliders();
  double Best = TriangleSize;
  FGrab = -1;
  for (size_t i = 0; i < S.size(); ++i)
    if (std::abs(S[i] - L) <= Best) Best = std::abs(S[i] - L), FGrab = int(i);
}

void TLevelsStrip::mouseMoveEvent(QMouseEvent *E) {
  if (FGrab >= 0) MoveSlider(int(E->position().x()));
}

void TLevelsStrip::MoveSlider(int X) {
  const int L = std::clamp(X - StripLeft, 0, 255);
  const size_t c = size_t(F.ShownChannel() == 4 ? 1 : F.ShownChannel());
  const TLevelsAdjust &W = F.Working();
  int32_t B = W.FInputMin[c], Wh = W.FInputMax[c], S = W.FShadowOut[c], T = W.FHighlightOut[c];
  double G = W.FGamma[c];
  if (FOutput) {
    (FGrab == 0 ? S : T) = L;
  } else if (FGrab == 0) {
    B = std::min(L, Wh - 1);
  } else if (FGrab == 2) {
    Wh = std::max(L, B + 1);
  } else {
    // The midtone slider sets the gamma that makes its input middle gray.
    const double t = std::clamp((L - B) / double(std::max(1, Wh - B)), 0.01, 0.99);
    G = std::clamp(std::round(std::log(t) / std::log(0.5) * 100) / 100, 0.01, 9.99);
  }
  F.SetChannelValues(B, Wh, G, S, T);
}

TLevelsForm::TLevelsForm(TLevelsAdjust &Effect, const TPreviewContext &Ctx, QWidget *Parent)
    : TPreviewBaseForm(Ctx, Parent), FEffect(Effect), FWork(std::make_unique<TLevelsAdjust>()) {
  setWindowTitle(QStringLiteral("レベル補正"));
  UseHistogram = true;
  CopyLevelsSettings(Effect, *FWork);

  ChannelBox = new QComboBox(this);
  for (const char *C : {"輝度", "Red", "Green", "Blue", "RGB"}) ChannelBox->addItem(QString::fromUtf8(C));
  InputStrip = new TLevelsStrip(*this, false);
  OutputStrip = new TLevelsStrip(*this, true);
  auto Spin = [this](int Lo, int Hi) {
    auto *S = new QSpinBox(this);
    S->setRange(Lo, Hi);
    return S;
  };
  InputBlack = Spin(0, 255);
  InputWhite = Spin(0, 255);
  OutputBlack = Spin(0, 255);
  OutputWhite = Spin(0, 255);
  GammaEdit = new QDoubleSpinBox(this);
  GammaEdit->setRange(0.01, 9.99);
  GammaEdit->setDecimals(2);
  GammaEdit->setSingleStep(0.05);

  AutoBox = new QComboBox(this);
  for (const char *C : {"なし", "輝度", "RGB(個別)", "RGB(全体)"}) AutoBox->addItem(QString::fromUtf8(C));
  auto Percent = [this] {
    auto *S = new QDoubleSpinBox(this);
    S->setRange(0, 100);
    S->setDecimals(2);
    S->setSingleStep(0.05);
    S->setSuffix(QStringLiteral(" %"));
    return S;
  };
  ShadowEdit = Percent();
  HighlightEdit = Percent();
  LinearCheck = new QCheckBox(QStringLiteral("リニア"), this);
  LabCheck = new QCheckBox(QStringLiteral("Lab"), this);
  LabCheck->setEnabled(SystemOption.EnabledLabMode != LongFalse);
  PreviewCheck = new QCheckBox(QStringLiteral("プレビュー"), this);
  HistogramCheck = new QCheckBox(QStringLiteral("ヒストグラム"), this);
  ScaleBox = new QComboBox(this);
  ScaleBox->addItem(QStringLiteral("線形"));
  ScaleBox->addItem(QStringLiteral("対数"));
  ResetButton = new QPushButton(QStringLiteral("リセット"), this);
  PresetBox = new QComboBox(this);
  SaveButton = new QPushButton(QStringLiteral("保存"), this);
  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setDefault(true);
  CancelButton = new QPushButton(QStringLiteral("キャンセル"), this);

  // Layout: channel, strips and fields at the left; automatic group,
  // switches, presets and the buttons at the right.
  // The input fields under the histogram strip, the output fields under
  // the gradient strip.
  auto *InputRow = new QHBoxLayout;
  InputRow->addWidget(new QLabel(QStringLiteral("入力"), this));
  InputRow->addWidget(InputBlack);
  InputRow->addWidget(GammaEdit);
  InputRow->addWidget(InputWhite);
  auto *OutputRow = new QHBoxLayout;
  OutputRow->addWidget(new QLabel(QStringLiteral("出力"), this));
  OutputRow->addWidget(OutputBlack);
  OutputRow->addStretch(1);
  OutputRow->addWidget(OutputWhite);
  auto *Left = new QVBoxLayout;
  auto *ChannelRow = new QHBoxLayout;
  ChannelRow->addWidget(new QLabel(QStringLiteral("チャンネル"), this));
  ChannelRow->addWidget(ChannelBox, 1);
  Left->addLayout(ChannelRow);
  Left->addWidget(InputStrip);
  Left->addLayout(InputRow);
  Left->addSpacing(8);
  Left->addWidget(OutputStrip);
  Left->addLayout(OutputRow);
  Left->addStretch(1);

  auto *AutoGroup = new QGroupBox(QStringLiteral("自動補正"), this);
  auto *AutoGrid = new QGridLayout(AutoGroup);
  AutoGrid->addWidget(AutoBox, 0, 0, 1, 2);
  AutoGrid->addWidget(new QLabel(QStringLiteral("シャドウ"), this), 1, 0);
  AutoGrid->addWidget(ShadowEdit, 1, 1);
  AutoGrid->addWidget(new QLabel(QStringLiteral("ハイライト"), this), 2, 0);
  AutoGrid->addWidget(HighlightEdit, 2, 1);
  auto *Right = new QVBoxLayout;
  Right->addWidget(OKButton);
  Right->addWidget(CancelButton);
  Right->addWidget(AutoGroup);
  auto *Switches = new QHBoxLayout;
  Switches->addWidget(LinearCheck);
  Switches->addWidget(LabCheck);
  Right->addLayout(Switches);
  Right->addWidget(PreviewCheck);
  auto *HistRow = new QHBoxLayout;
  HistRow->addWidget(HistogramCheck);
  HistRow->addWidget(ScaleBox);
  Right->addLayout(HistRow);
  Right->addWidget(ResetButton);
  auto *PresetRow = new QHBoxLayout;
  PresetRow->addWidget(PresetBox, 1);
  PresetRow->addWidget(SaveButton);
  Right->addLayout(PresetRow);
  Right->addStretch(1);
  auto *Main = new QHBoxLayout(this);
  Main->addLayout(Left);
  Main->addLayout(Right);
  Main->setSizeConstraint(QLayout::SetFixedSize);

  // The stored values into the controls.
  AutoBox->setCurrentIndex(int(std::min<uint32_t>(FWork->FAutoMode, 3)));
  ShadowEdit->setValue(FWork->FClipShadow / 100.0);
  HighlightEdit->setValue(FWork->FClipHighlight / 100.0);
  LinearCheck->setChecked(FWork->FDegamma);
  LabCheck->setChecked(FWork->FLab);
  PreviewCheck->setChecked(FWork->FPreview);
  HistogramCheck->setChecked(FWork->FHistogram);
  ScaleBox->setCurrentIndex(FWork->FHistogramType == 1 ? 1 : 0);
  LoadPresetList();
  ShowChannel();

  connect(ChannelBox, &QComboBox::currentIndexChanged, this, [this] { ShowChannel(); });
  for (QSpinBox *S : {InputBlack, InputWhite, OutputBlack, OutputWhite})
    connect(S, &QSpinBox::valueChanged, this, [this] { StoreField(); });
  connect(GammaEdit, &QDoubleSpinBox::valueChanged, this, [this] { StoreField(); });
  connect(AutoBox, &QComboBox::currentIndexChanged, this, [this](int I) {
    FWork->FAutoMode = uint32_t(std::max(0, I));
    Changed();
  });
  connect(ShadowEdit, &QDoubleSpinBox::valueChanged, this, [this](double V) {
    FWork->FClipShadow = uint32_t(std::lround(V * 100));
    Changed();
  });
  connect(HighlightEdit, &QDoubleSpinBox::valueChanged, this, [this](double V) {
    FWork->FClipHighlight = uint32_t(std::lround(V * 100));
    Changed();
  });
  connect(LinearCheck, &QCheckBox::toggled, this, [this](bool On) {
    FWork->FDegamma = On;
    Changed();
  });
  connect(LabCheck, &QCheckBox::toggled, this, [this](bool On) {
    FWork->FLab = On;
    Changed();
  });
  connect(PreviewCheck, &QCheckBox::toggled, this, [this](bool On) {
    FWork->FPreview = On;
    if (On && DestImage()) {
      PreviewWindow()->show();
      RequestPreview();
    } else {
      PreviewWindow()->hide();
    }
  });
  connect(HistogramCheck, &QCheckBox::toggled, this, [this](bool On) {
    FWork->FHistogram = On;
    ShowHistogramWindow(On);
  });
  connect(ScaleBox, &QComboBox::currentIndexChanged, this, [this](int I) {
    FWork->FHistogramType = uint32_t(std::max(0, I));
    InputStrip->update();
  });
  connect(ResetButton, &QPushButton::clicked, this, [this] { SetChannelValues(0, 255, 1.0, 0, 255); });
  connect(PresetBox, &QComboBox::activated, this, [this](int I) { PresetChosen(I); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { SavePresetAs(); });
  connect(OKButton, &QPushButton::clicked, this, &TLevelsForm::accept);
  connect(CancelButton, &QPushButton::clicked, this, &TLevelsForm::reject);
  HistogramWindow()->OnClosed = [this] { HistogramCheck->setChecked(false); };

  const int32_t Count = Ctx.List ? Ctx.List->Count() : 0;
  if (Count > 0) SetPreviewImageIndex(std::clamp(Ctx.SelectedIndex, 0, Count - 1));
}

TLevelsForm::~TLevelsForm() { StopPreviewThreads(); }

int TLevelsForm::ShownChannel() const { return std::max(0, ChannelBox->currentIndex()); }

bool TLevelsForm::IsPreviewEnabled() const { return PreviewCheck->isChecked(); }
bool TLevelsForm::IsHistogramEnabled() const { return HistogramCheck->isChecked(); }
void TLevelsForm::PreviewClosed() { PreviewCheck->setChecked(false); }

void TLevelsForm::ShowChannel() {
  const size_t c = size_t(ShownChannel() == 4 ? 1 : ShownChannel());
  FUpdating = true;
  InputBlack->setValue(FWork->FInputMin[c]);
  InputWhite->setValue(FWork->FInputMax[c]);
  OutputBlack->setValue(FWork->FShadowOut[c]);
  OutputWhite->setValue(FWork->FHighlightOut[c]);
  GammaEdit->setValue(FWork->FGamma[c]);
  FUpdating = false;
  InputStrip->update();
  OutputStrip->update();
}

void TLevelsForm::StoreField() {
  if (FUpdating) return;
  SetChannelValues(InputBlack->value(), InputWhite->value(), GammaEdit->value(), OutputBlack->value(),
                   OutputWhite->value());
}

void TLevelsForm::SetChannelValues(int32_t Black, int32_t White, double Gamma, int32_t OutBlack, int32_t OutWhite) {
  const int Shown = ShownChannel();
  const size_t c0 = Shown == 4 ? 1 : size_t(Shown), c1 = Shown == 4 ? 3 : size_t(Shown);
  const size_t shown = Shown == 4 ? 1 : size_t(Shown);
  // The gamma field shows two decimals: an unchanged field keeps the stored value.
  const bool GammaEdited = std::abs(Gamma - FWork->FGamma[shown]) >= 0.005;
  for (size_t c = c0; c <= c1; ++c) {
    FWork->FInputMin[c] = Black;
    FWork->FInputMax[c] = White;
    FWork->FShadowOut[c] = OutBlack;
    FWork->FHighlightOut[c] = OutWhite;
    if (GammaEdited || Shown == 4) FWork->FGamma[c] = GammaEdited ? Gamma : FWork->FGamma[shown];
  }
  ShowChannel();
  Changed();
}

void TLevelsForm::Changed() {
  InputStrip->update();
  OutputStrip->update();
  RequestPreview();
}

TPreviewStep TLevelsForm::MakePreviewStep() const {
  auto Whole = std::make_shared<TLevelsAdjust>();
  CopyLevelsSettings(*FWork, *Whole);
  // The visible rectangle alone would give other automatic ranges: it takes
  // those of the whole picture.
  auto Part = std::make_shared<TLevelsAdjust>();
  const TICCImgInfo *M = Master();
  const bool Gray = M && (M->Channels < 3 || M->IsGrayAlpha);
  const uint64_t Total = M ? uint64_t(M->Width) * M->Height : 0;
  ResolveAutomaticLevels(*FWork, DefaultHistogram(), Total, Gray, SystemOption.EnabledLabMode != LongFalse, *Part);
  return [Whole, Part](TICCImgInfo &Img, TPreviewStepEnv &Env) {
    (Env.Spot ? *Part : *Whole).DoEffect(Img, Env.Params);
  };
}

void TLevelsForm::LoadPresetList() {
  PresetBox->clear();
  PresetBox->addItem(QStringLiteral("(初期値)"));
  for (const std::string &Name : ListPresets(PresetFolder(DataFolder(), "Levels")))
    PresetBox->addItem(QString::fromStdString(Name));
}

void TLevelsForm::PresetChosen(int Index) {
  if (Index < 0) return;
  if (Index == 0) {
    for (size_t c = 0; c < 4; ++c) {
      FWork->FInputMin[c] = 0, FWork->FInputMax[c] = 255, FWork->FGamma[c] = 1.0;
      FWork->FShadowOut[c] = 0, FWork->FHighlightOut[c] = 255;
    }
    FWork->FAutoMode = 0;
  } else {
    const std::string File = PresetFolder(DataFolder(), "Levels") + PresetBox->itemText(Index).toStdString() + ".txt";
    try {
      FWork->LoadPreset(File);
    } catch (const std::exception &E) {
      QMessageBox::warning(this, windowTitle(), QString::fromStdString(E.what()));
      return;
    }
  }
  FUpdating = true;
  AutoBox->setCurrentIndex(int(std::min<uint32_t>(FWork->FAutoMode, 3)));
  ShadowEdit->setValue(FWork->FClipShadow / 100.0);
  HighlightEdit->setValue(FWork->FClipHighlight / 100.0);
  LinearCheck->setChecked(FWork->FDegamma);
  LabCheck->setChecked(FWork->FLab);
  FUpdating = false;
  ShowChannel();
  Changed();
}

void TLevelsForm::SavePresetAs() {
  const std::string Folder = PresetFolder(DataFolder(), "Levels");
  std::error_code Ec;
  std::filesystem::create_directories(Folder, Ec);
  QString File = QFileDialog::getSaveFileName(this, QStringLiteral("保存"), QString::fromStdString(Folder),
                                              QStringLiteral("*.txt"));
  if (File.isEmpty()) return;
  if (!File.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive)) File += QStringLiteral(".txt");
  try {
    FWork->SavePreset(File.toStdString());
  } catch (const std::exception &E) {
    QMessageBox::warning(this, windowTitle(), QString::fromStdString(E.what()));
    return;
  }
  LoadPresetList();
}

void TLevelsForm::accept() {
  CopyLevelsSettings(*FWork, FEffect);
  TPreviewBaseForm::accept();
}

namespace {

const TEffectDialogRegistrar LevelsDialog(EFFECT_LEVELS, [](TEffect &E, const TPreviewContext &Ctx, QWidget *Parent) {
  auto *Levels = dynamic_cast<TLevelsAdjust *>(&E);
  if (!Levels) return;
  TLevelsForm Form(*Levels, Ctx, Parent);
  Form.exec();
});

}  // namespace
