// The histogram window: drawing the two histograms and the channel choice.
#include "app/window/preview/HistogramForm.h"

#include "batch/ConvertOption.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int BitmapWidth = 268, BitmapHeight = 130;
constexpr int BarLeft = 6;      // x of level 0
constexpr int BarBase = 128;    // bars grow upward from this row
constexpr int BarMax = 127;     // tallest bar
constexpr int DefaultWeight = 30, ProcessedWeight = 85, ProcessedCbWeight = 128;

constexpr QRgb Blue = 0x0000FF, Green = 0x00FF00, Red = 0xFF0000, Gray = 0x808080;

// One series: 256 counts drawn in one colour with one blend weight.
struct TSeries {
  const uint32_t *Counts;
  QRgb Colour;
  int Weight;
};

int BarHeight(uint32_t Count, uint32_t Max, bool Log) {
  if (Count == 0 || Max == 0) return 0;
  if (Log) return Max <= 1 ? BarMax : int(std::log(double(Count)) * BarMax / std::log(double(Max)));
  return int(uint64_t(Count) * BarMax / Max);
}

// new = (w * colour + (256 - w) * old) >> 8, per byte.
QRgb Blend(QRgb Old, QRgb Colour, int W) {
  auto C = [&](int Shift) {
    const int o = int((Old >> Shift) & 0xFF), c = int((Colour >> Shift) & 0xFF);
    return uint32_t((W * c + (256 - W) * o) >> 8) << Shift;
  };
  return 0xFF000000u | C(16) | C(8) | C(0);
}

}  // namespace

QImage DrawHistogram(const THistogramCounts &Default, const THistogramCounts *Processed, THistogramChannel Channel,
                     bool Logarithmic, bool IsGrayscale) {
  QImage Out(BitmapWidth, BitmapHeight, QImage::Format_RGB32);
  Out.fill(Qt::white);
  std::vector<TSeries> Series;
  auto Add = [&](uint32_t Start, QRgb Colour, int ProcessedW) {
    Series.push_back({Default.data() + Start, Colour, DefaultWeight});
    if (Processed) Series.push_back({Processed->data() + Start, Colour, ProcessedW});
  };
  switch (Channel) {
    case THistogramChannel::RGB:
      if (IsGrayscale) {
        Add(HIST_BLUE, Gray, ProcessedWeight);
      } else {
        Add(HIST_BLUE, Blue, ProcessedWeight);
        Add(HIST_GREEN, Green, ProcessedWeight);
        Add(HIST_RED, Red, ProcessedWeight);
      }
      break;
    // A gray picture has no colour channels to show.
    case THistogramChannel::R:
      if (!IsGrayscale) Add(HIST_RED, Red, ProcessedWeight);
      break;
    case THistogramChannel::G:
      if (!IsGrayscale) Add(HIST_GREEN, Green, ProcessedWeight);
      break;
    case THistogramChannel::B:
      if (!IsGrayscale) Add(HIST_BLUE, Blue, ProcessedWeight);
      break;
    case THistogramChannel::Y: Add(HIST_Y, Gray, ProcessedWeight); break;
    case THistogramChannel::CbCr:
      Add(HIST_CB, Blue, ProcessedCbWeight);
      Add(HIST_CR, Red, ProcessedWeight);
      break;
    case THistogramChannel::L: Add(HIST_L, Gray, ProcessedWeight); break;
  }
  // One scale for everything drawn, so the two pictures compare.
  uint32_t Max = 0;
  for (const TSeries &S : Series) Max = std::max(Max, *std::max_element(S.Counts, S.Counts + 256));
  for (const TSeries &S : Series)
    for (int Level = 0; Level < 256; ++Level) {
      const int H = BarHeight(S.Counts[Level], Max, Logarithmic);
      for (int y = BarBase; y > BarBase - H; --y) {
        QRgb *P = reinterpret_cast<QRgb *>(Out.scanLine(y)) + BarLeft + Level;
        *P = Blend(*P, S.Colour, S.Weight);
      }
    }
  return Out;
}

class THistogramCanvas : public QWidget {
public:
  explicit THistogramCanvas(THistogramForm &Form) : QWidget(&Form), F(Form) {
    setFixedSize(BitmapWidth, BitmapHeight);
    setMouseTracking(true);
  }

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter P(this);
    P.drawImage(0, 0, F.FBackBuf);
  }
  void mouseMoveEvent(QMouseEvent *E) override {
    const int Level = int(E->position().x()) - BarLeft;
    F.ValueLabel->setText(Level >= 0 && Level < 256 ? F.ValueText(Level) : QString());
  }
  void leaveEvent(QEvent *) override { F.ValueLabel->clear(); }

private:
  THistogramForm &F;
};

THistogramForm::THistogramForm(TPreviewOption &Option, bool LabMode, QWidget *Parent)
    : QWidget(Parent, Qt::Window | Qt::Tool), FOption(Option), FLabMode(LabMode) {
  setWindowTitle(QStringLiteral("ヒストグラム"));
  ChannelBox = new QComboBox(this);
  for (const char *C : {"RGB", "R", "G", "B", "Y", "CbCr"}) ChannelBox->addItem(QString::fromUtf8(C));
  if (LabMode) ChannelBox->addItem(QStringLiteral("L"));
  ScaleBox = new QComboBox(this);
  ScaleBox->addItem(QStringLiteral("線形"));
  ScaleBox->addItem(QStringLiteral("対数"));
  Canvas = new THistogramCanvas(*this);
  ValueLabel = new QLabel(this);
  ValueLabel->setMinimumWidth(BitmapWidth);
  auto *Top = new QHBoxLayout;
  Top->addWidget(ChannelBox);
  Top->addWidget(ScaleBox);
  Top->addStretch(1);
  auto *Box = new QVBoxLayout(this);
  Box->setContentsMargins(4, 4, 4, 4);
  Box->addLayout(Top);
  Box->addWidget(Canvas);
  Box->addWidget(ValueLabel);
  Box->setSizeConstraint(QLayout::SetFixedSize);

  const int Stored = Option.HistogramChannel;
  ChannelBox->setCurrentIndex(Stored >= 0 && Stored < ChannelBox->count() ? Stored : 0);
  ScaleBox->setCurrentIndex(Option.HistogramType == 1 ? 1 : 0);
  FLastMode = GetHistogramMode();
  connect(ChannelBox, &QComboBox::currentIndexChanged, this, [this] { ChannelChanged(); });
  connect(ScaleBox, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });
  Redraw();
}

void THistogramForm::SetParentForm(QWidget *Form, std::function<void()> UpdateProc) {
  FParentForm = Form;
  FUpdateProc = std::move(UpdateProc);
}

void THistogramForm::SetDefaultCount(const THistogramCounts &Counts) {
  FDefaultCount = Counts;
  FHasProcessed = false;
  TotalCount = 0;
  for (size_t i = 0; i < 256; ++i) TotalCount += Counts[HIST_BLUE + i];
  IsGrayscale = std::all_of(Counts.begin() + HIST_GREEN, Counts.begin() + HIST_GREEN + 256,
                            [](uint32_t c) { return c == 0; });
  Redraw();
}

void THistogramForm::UpdateHistogram(const THistogramCounts &Counts) {
  FHistogramCount = Counts;
  FHasProcessed = true;
  Redraw();
}

THistogramChannel THistogramForm::Channel() const { return THistogramChannel(std::max(0, ChannelBox->currentIndex())); }

void THistogramForm::SetChannel(THistogramChannel C) {
  if (int(C) < ChannelBox->count()) ChannelBox->setCurrentIndex(int(C));
}

bool THistogramForm::Logarithmic() const { return ScaleBox->currentIndex() == 1; }
void THistogramForm::SetLogarithmic(bool On) { ScaleBox->setCurrentIndex(On ? 1 : 0); }

int32_t THistogramForm::GetHistogramMode() const {
  switch (Channel()) {
    case THistogramChannel::Y:
    case THistogramChannel::CbCr: return 2;
    case THistogramChannel::L: return 4;
    default: return 1;
  }
}

void THistogramForm::ChannelChanged() {
  const int32_t Mode = GetHistogramMode();
  if (Mode == FLastMode) {
    Redraw();
    return;
  }
  // The processed picture must be counted another way.
  FLastMode = Mode;
  FHasProcessed = false;
  Redraw();
  if (FUpdateProc) FUpdateProc();
}

QString THistogramForm::ValueText(int32_t Level) const {
  uint32_t Start;
  switch (Channel()) {
    case THistogramChannel::R: Start = HIST_RED; break;
    case THistogramChannel::G: Start = HIST_GREEN; break;
    case THistogramChannel::B: Start = HIST_BLUE; break;
    case THistogramChannel::Y: Start = HIST_Y; break;
    case THistogramChannel::L: Start = HIST_L; break;
    default: return {};
  }
  if (Level < 0 || Level > 255) return {};
  const THistogramCounts &C = FHasProcessed ? FHistogramCount : FDefaultCount;
  const uint32_t Count = C[Start + uint32_t(Level)];
  const double Percent = TotalCount ? 100.0 * Count / double(TotalCount) : 0.0;
  return QString::asprintf("Value:%d  %u/%llu (%.2f%s)", Level, Count, (unsigned long long)TotalCount, Percent, "%");
}

void THistogramForm::Redraw() {
  FBackBuf = DrawHistogram(FDefaultCount, FHasProcessed ? &FHistogramCount : nullptr, Channel(), Logarithmic(),
                           IsGrayscale);
  Canvas->update();
}

void THistogramForm::SaveOption() {
  FOption.HistogramChannel = ChannelBox->currentIndex();
  FOption.HistogramType = ScaleBox->currentIndex();
}

void THistogramForm::closeEvent(QCloseEvent *E) {
  SaveOption();
  QWidget::closeEvent(E);
  if (OnClosed) OnClosed();
}
