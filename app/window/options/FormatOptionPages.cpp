// The five format pages of the format dialog (BMP, JPEG, PNG, TIFF, HD
// Photo) and the metadata page.
#include "app/window/options/FormatOptionForm.h"

#include "app/window/options/MonitorColor.h"
#include "app/window/options/NumEdit.h"
#include "batch/ConvertOption.h"
#include "core/ProgramFolder.h"
#include "lossless/WembSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <filesystem>

namespace {

QString U(const char *S) { return QString::fromUtf8(S); }

QComboBox *ChoiceList(std::initializer_list<const char *> Items, QWidget *Parent) {
  auto *Box = new QComboBox(Parent);
  for (const char *I : Items) Box->addItem(U(I));
  return Box;
}

QComboBox *SixteenBitList(QWidget *Parent) { return ChoiceList({"OFF", "ON", "ON(16ビットソースのみ)"}, Parent); }
QComboBox *SamplingList(QWidget *Parent) { return ChoiceList({"4:2:0", "4:2:2", "4:4:4", "4:1:1"}, Parent); }

// A stored list index; an index the list does not hold shows the first item.
void SelectIndex(QComboBox *Box, int32_t Index) { Box->setCurrentIndex(Index >= 0 && Index < Box->count() ? Index : 0); }

TNumEdit *NumField(const TNumRange &Range, int32_t Value, QWidget *Parent) {
  auto *F = new TUDNumEdit(Range, Parent);
  F->setValue(Value);
  return F;
}

// A row of widgets, left-aligned.
QWidget *Row(std::initializer_list<QWidget *> Widgets, QWidget *Parent) {
  auto *W = new QWidget(Parent);
  auto *L = new QHBoxLayout(W);
  L->setContentsMargins(0, 0, 0, 0);
  for (QWidget *C : Widgets) L->addWidget(C);
  L->addStretch(1);
  return W;
}

// A quality shown both as a scroll bar and a field, the two kept equal.
void TieBarToField(QScrollBar *Bar, TNumEdit *Field) {
  Bar->setRange(HDP_QUALITY_RANGE.Min, HDP_QUALITY_RANGE.Max);
  Bar->setValue(Field->value());
  QObject::connect(Bar, &QScrollBar::valueChanged, Field, [Field](int V) {
    if (Field->value() != V) Field->setValue(V);
  });
  QObject::connect(Field, &QSpinBox::valueChanged, Bar, [Bar](int V) {
    if (Bar->value() != V) Bar->setValue(V);
  });
}

}  // namespace

// ---- BMP ----

TBitmapOptionForm::TBitmapOptionForm(const TFormatOptionPlace &Place, QWidget *Parent)
    : TFormatPage(QStringLiteral("BMP設定"), Place, Parent) {
  auto *L = new QVBoxLayout(this);
  AlphaChannelSupport = new QCheckBox(QStringLiteral("αチャンネル付きでの出力を許可する"), this);
  L->addWidget(AlphaChannelSupport);
  HeaderGroup = new QGroupBox(QStringLiteral("ヘッダ"), this);
  auto *HL = new QVBoxLayout(HeaderGroup);
  AlphaBitmapHeaderType = ChoiceList({"BITMAPINFOHEADER", "BITMAPV4HEADER"}, HeaderGroup);
  HL->addWidget(AlphaBitmapHeaderType);
  L->addWidget(HeaderGroup);
  auto *CheckGroup = new QGroupBox(QStringLiteral("ビットフィールド無し32bitビットマップ"), this);
  auto *CL = new QVBoxLayout(CheckGroup);
  AlphaCheckType = ChoiceList({"自動判別", "全てARGBとして扱う", "全てXRGBとして扱う"}, CheckGroup);
  CL->addWidget(AlphaCheckType);
  L->addWidget(CheckGroup);
  IndexColor = new QCheckBox(QStringLiteral("256色以下ならインデックスカラー化する"), this);
  L->addWidget(IndexColor);
  L->addStretch(1);

  const TBitmapOption &B = BitmapOption;
  AlphaChannelSupport->setChecked(B.AlphaChannelSupport != 0);
  SelectIndex(AlphaBitmapHeaderType, B.AlphaBitmapHeaderType);
  SelectIndex(AlphaCheckType, B.AlphaCheckType);
  IndexColor->setChecked(B.IndexColor != 0);
  connect(AlphaChannelSupport, &QCheckBox::toggled, this, &TBitmapOptionForm::ApplyEnabling);
  ApplyEnabling();
}

void TBitmapOptionForm::ApplyEnabling() { HeaderGroup->setEnabled(AlphaChannelSupport->isChecked()); }

void TBitmapOptionForm::Store() {
  TBitmapOption &B = BitmapOption;
  B.AlphaChannelSupport = AlphaChannelSupport->isChecked();
  B.AlphaBitmapHeaderType = AlphaBitmapHeaderType->currentIndex();
  B.AlphaCheckType = AlphaCheckType->currentIndex();
  B.IndexColor = IndexColor->isChecked();
}

// ---- JPEG ----

TJPEGOptionForm::TJPEGOptionForm(const TFormatOptionPlace &Place, QWidget *Parent)
    : TFormatPage(QStringLiteral("JPEG設定"), Place, Parent) {
  const TJPEGOption &J = JPEGOption;
  auto *G = new QGridLayout(this);
  int R = 0;
  QualityLabel = new QLabel(QStringLiteral("品質"), this);
  Quality = NumField(JPEG_QUALITY_RANGE, J.Quality, this);
  G->addWidget(QualityLabel, R, 0);
  G->addWidget(Quality, R++, 1);
  G->addWidget(new QLabel(QStringLiteral("スムージング"), this), R, 0);
  Smoothing = NumField(JPEG_SMOOTHING_RANGE, J.Smoothing, this);
  G->addWidget(Smoothing, R++, 1);
  G->addWidget(new QLabel(QStringLiteral("サンプリング比"), this), R, 0);
  SampleType = SamplingList(this);
  G->addWidget(SampleType, R++, 1);
  G->addWidget(new QLabel(QStringLiteral("JPEGの縮小展開"), this), R, 0);
  DecodeWithDownScaling = ChoiceList({"なし", "1/2まで", "1/4まで", "1/8まで"}, this);
  G->addWidget(DecodeWithDownScaling, R++, 1);
  DownScalingLimit = NumField(JPEG_DOWNSCALING_LIMIT_RANGE, J.DownScalingLimit, this);
  DownScalingGroup = Row({new QLabel(QStringLiteral("出力サイズの")), DownScalingLimit,
                          new QLabel(QStringLiteral("%まで許可"))},
                         this);
  G->addWidget(DownScalingGroup, R++, 1, 1, 2);
  G->addWidget(new QLabel(QStringLiteral("DCT演算方法"), this), R, 0);
  DCTMethod = ChoiceList({"高精度整数", "浮動小数"}, this);
  G->addWidget(DCTMethod, R++, 1);

  UseFileSizeLimit = new QCheckBox(QStringLiteral("出力ファイルサイズを制限する"), this);
  G->addWidget(UseFileSizeLimit, R++, 0, 1, 3);
  FileSizeGroup = new QWidget(this);
  auto *FG = new QGridLayout(FileSizeGroup);
  FG->setContentsMargins(20, 0, 0, 0);
  FileSizeLimit = NumField(JPEG_FILE_SIZE_LIMIT_RANGE, J.FileSizeLimit, FileSizeGroup);
  FG->addWidget(FileSizeLimit, 0, 1);
  FG->addWidget(new QLabel(QStringLiteral("KB"), FileSizeGroup), 0, 2);
  FG->addWidget(new QLabel(QStringLiteral("品質下限"), FileSizeGroup), 1, 0);
  QualityLimit = NumField(JPEG_QUALITY_LIMIT_RANGE, J.QualityLimit, FileSizeGroup);
  FG->addWidget(QualityLimit, 1, 1);
  FG->addWidget(new QLabel(QStringLiteral("サンプリング比"), FileSizeGroup), 2, 0);
  SampleTypeLimit = SamplingList(FileSizeGroup);
  FG->addWidget(SampleTypeLimit, 2, 1);
  G->addWidget(FileSizeGroup, R++, 0, 1, 3);

  AlwaysRecompress = new QCheckBox(QStringLiteral("常に再圧縮する"), this);
  OmitAPP0Marker = new QCheckBox(QStringLiteral("Exif情報がある時はAPP0マーカーを省略する"), this);
  KeepQuality = new QCheckBox(QStringLiteral("元ファイルと同じ品質にする"), this);
  Progressive = new QCheckBox(QStringLiteral("プログレッシブJPEG"), this);
  for (QCheckBox *C : {AlwaysRecompress, OmitAPP0Marker, KeepQuality, Progressive}) G->addWidget(C, R++, 0, 1, 3);

  UseQuantizationTable = new QCheckBox(QStringLiteral("量子化テーブルを直接指定する"), this);
  G->addWidget(UseQuantizationTable, R++, 0, 1, 3);
  TableLists = new QWidget(this);
  auto *TL = new QGridLayout(TableLists);
  TL->setContentsMargins(20, 0, 0, 0);
  LumaTable = new QComboBox(TableLists);
  ChromaTable = new QComboBox(TableLists);
  LumaTable->setMinimumContentsLength(16);
  ChromaTable->setMinimumContentsLength(16);
  TL->addWidget(new QLabel(QStringLiteral("輝度"), TableLists), 0, 0);
  TL->addWidget(LumaTable, 0, 1);
  TL->addWidget(new QLabel(QStringLiteral("色差"), TableLists), 1, 0);
  TL->addWidget(ChromaTable, 1, 1);
  G->addWidget(TableLists, R, 0, 1, 2);
  AddTable = new QPushButton(QStringLiteral("追加..."), this);
  G->addWidget(AddTable, R++, 2, Qt::AlignLeft | Qt::AlignBottom);
  G->setRowStretch(R, 1);
  G->setColumnStretch(2, 1);

  SelectIndex(SampleType, J.SampleType);
  SelectIndex(DecodeWithDownScaling, J.DecodeWithDownScaling);
  SelectIndex(DCTMethod, J.DCTMethod);
  UseFileSizeLimit->setChecked(J.UseFileSizeLimit);
  SelectIndex(SampleTypeLimit, J.SampleTypeLimit);
  AlwaysRecompress->setChecked(J.AlwaysRecompress);
  OmitAPP0Marker->setChecked(J.OmitAPP0Marker != 0);
  KeepQuality->setChecked(J.KeepQuality != 0);
  Progressive->setChecked(J.Progressive);
  RefreshTables();
  UseQuantizationTable->setChecked(J.UseQuantizationTable != 0 && UseQuantizationTable->isEnabled());

  connect(UseQuantizationTable, &QCheckBox::toggled, this, &TJPEGOptionForm::ApplyEnabling);
  connect(UseFileSizeLimit, &QCheckBox::toggled, this, &TJPEGOptionForm::ApplyEnabling);
  connect(DecodeWithDownScaling, &QComboBox::currentIndexChanged, this, &TJPEGOptionForm::ApplyEnabling);
  connect(AddTable, &QPushButton::clicked, this, &TJPEGOptionForm::RegisterTables);
  ApplyEnabling();
}

void TJPEGOptionForm::FillTableList(QComboBox *List, const std::string &Folder, const std::string &Chosen) {
  List->clear();
  for (const TDqtEntry &E : ListDqtFiles(Folder)) List->addItem(QString::fromStdString(E.Name), QString::fromStdString(E.FileName));
  const int At = List->findData(QString::fromStdString(Chosen));
  List->setCurrentIndex(At >= 0 ? At : 0);
}

void TJPEGOptionForm::RefreshTables() {
  // The names chosen now, or the stored ones before the first fill.
  const std::string Luma =
      LumaTable->count() ? LumaTable->currentData().toString().toStdString() : JPEGOption.LumaTableName;
  const std::string Chroma =
      ChromaTable->count() ? ChromaTable->currentData().toString().toStdString() : JPEGOption.ChromaTableName;
  FillTableList(LumaTable, LumaQTFolder(FPlace.DataFolder), Luma);
  FillTableList(ChromaTable, ChromaQTFolder(FPlace.DataFolder), Chroma);
  const bool Available = QuantizationTablesAvailable(FPlace.DataFolder);
  UseQuantizationTable->setEnabled(Available);
  if (!Available) UseQuantizationTable->setChecked(false);
  ApplyEnabling();
}

void TJPEGOptionForm::RegisterTables() {
  TQuantizationTableDialog Dialog(FPlace, this);
  FPlace.RunRegistration(Dialog);
  RefreshTables();
}

void TJPEGOptionForm::ApplyEnabling() {
  const bool Tables = UseQuantizationTable->isChecked() && UseQuantizationTable->isEnabled();
  QualityLabel->setEnabled(!Tables);
  Quality->setEnabled(!Tables);
  TableLists->setEnabled(Tables);
  DownScalingGroup->setEnabled(DecodeWithDownScaling->currentIndex() != 0);
  FileSizeGroup->setEnabled(UseFileSizeLimit->isChecked());
}

void TJPEGOptionForm::Store() {
  TJPEGOption &J = JPEGOption;
  J.Quality = Quality->IntValue();
  J.Smoothing = Smoothing->IntValue();
  J.SampleType = SampleType->currentIndex();
  J.DecodeWithDownScaling = DecodeWithDownScaling->currentIndex();
  J.DownScalingLimit = DownScalingLimit->IntValue();
  J.DCTMethod = DCTMethod->currentIndex();
  J.UseFileSizeLimit = UseFileSizeLimit->isChecked();
  J.FileSizeLimit = FileSizeLimit->IntValue();
  J.QualityLimit = QualityLimit->IntValue();
  J.SampleTypeLimit = SampleTypeLimit->currentIndex();
  J.AlwaysRecompress = AlwaysRecompress->isChecked();
  J.OmitAPP0Marker = OmitAPP0Marker->isChecked();
  J.KeepQuality = KeepQuality->isChecked();
  J.Progressive = Progressive->isChecked();
  if (LumaTable->count()) J.LumaTableName = LumaTable->currentData().toString().toStdString();
  if (ChromaTable->count()) J.ChromaTableName = ChromaTable->currentData().toString().toStdString();
  J.UseQuantizationTable = UseQuantizationTable->isChecked() && UseQuantizationTable->isEnabled();
  // A table file that went away since the lists were filled turns the
  // choice off, as a settings load does.
  if (J.UseQuantizationTable && !LoadChosenQuantizationTables(FPlace.DataFolder, J)) J.UseQuantizationTable = 0;
  LowerJPEGLimits(J);
}

// ---- PNG ----

TPNGOptionForm::TPNGOptionForm(const TFormatOptionPlace &Place, QWidget *Parent)
    : TFormatPage(QStringLiteral("PNG設定"), Place, Parent) {
  const TPNGOption &P = PNGOption;
  auto *L = new QVBoxLayout(this);
  CompressLevel = NumField(PNG_COMPRESS_LEVEL_RANGE, P.CompressLevel, this);
  L->addWidget(Row({new QLabel(QStringLiteral("圧縮レベル")), CompressLevel}, this));
  auto *FilterGroup = new QGroupBox(QStringLiteral("使用フィルタ"), this);
  auto *FL = new QHBoxLayout(FilterGroup);
  const char *FilterNames[] = {"None", "Sub", "Up", "Average", "Paeth"};
  for (size_t i = 0; i < Filters.size(); ++i) {
    Filters[i] = new QCheckBox(U(FilterNames[i]), FilterGroup);
    Filters[i]->setChecked((P.Filter & PNG_FILTER_BITS[i]) != 0);
    FL->addWidget(Filters[i]);
  }
  L->addWidget(FilterGroup);
  PNGOUTGroup = new QGroupBox(QStringLiteral("PNGOUT"), this);
  auto *OL = new QVBoxLayout(PNGOUTGroup);
  UsePNGOUT = new QCheckBox(QStringLiteral("PNGOUTで最適化する"), PNGOUTGroup);
  MaximumOptimization = new QCheckBox(QStringLiteral("最大限の最適化"), PNGOUTGroup);
  FullColorOptimization = new QCheckBox(QStringLiteral("フルカラーPNGの最適化"), PNGOUTGroup);
  OL->addWidget(UsePNGOUT);
  for (QCheckBox *C : {MaximumOptimization, FullColorOptimization}) OL->addWidget(C);
  L->addWidget(PNGOUTGroup);
  IndexColor = new QCheckBox(QStringLiteral("256色以下ならインデックスカラー化する"), this);
  L->addWidget(IndexColor);
  TransparentGroup = new QGroupBox(QStringLiteral("透明色"), this);
  auto *TL = new QHBoxLayout(TransparentGroup);
  TransparentType = ChoiceList({"なし", "左上", "左下", "右上", "右下", "任意の色"}, TransparentGroup);
  Swatch = new QLabel(TransparentGroup);
  Swatch->setFixedSize(40, 22);
  Swatch->setFrameShape(QFrame::Box);
  ChangeColorButton = new QPushButton(QStringLiteral("変更..."), TransparentGroup);
  TL->addWidget(TransparentType);
  TL->addWidget(Swatch);
  TL->addWidget(ChangeColorButton);
  TL->addStretch(1);
  L->addWidget(TransparentGroup);
  UsebKGDChunk = new QCheckBox(QStringLiteral("bKGDチャンクの値を使用する"), this);
  L->addWidget(UsebKGDChunk);
  Is16Bit = SixteenBitList(this);
  L->addWidget(Row({new QLabel(QStringLiteral("16ビット出力")), Is16Bit}, this));
  UseWIC = new QCheckBox(QStringLiteral("WICのPNGDecoderを使用する"), this);
  L->addWidget(UseWIC);
  L->addStretch(1);

  std::error_code Ec;
  PNGOUTGroup->setEnabled(std::filesystem::is_regular_file(FPlace.BinFolder + "/pngout", Ec));
  UsePNGOUT->setChecked(P.UsePNGOUT != 0);
  MaximumOptimization->setChecked(P.MaximumOptimization != 0);
  FullColorOptimization->setChecked(P.FullColorOptimization != 0);
  IndexColor->setChecked(P.IndexColor != 0);
  SelectIndex(TransparentType, P.TransparentType);
  TransparentColor = P.TransparentColor & 0xFFFFFF;
  CustomColors = SystemOption.CustomPalette;
  UsebKGDChunk->setChecked(P.UsebKGDChunk != 0);
  SelectIndex(Is16Bit, P.Is16Bit);
  UseWIC->setChecked(P.UseWIC != 0);
  ShowSwatch();

  connect(UsePNGOUT, &QCheckBox::toggled, this, &TPNGOptionForm::ApplyEnabling);
  connect(IndexColor, &QCheckBox::toggled, this, &TPNGOptionForm::ApplyEnabling);
  connect(TransparentType, &QComboBox::currentIndexChanged, this, &TPNGOptionForm::ApplyEnabling);
  connect(ChangeColorButton, &QPushButton::clicked, this, &TPNGOptionForm::ChangeColor);
  ApplyEnabling();
}

void TPNGOptionForm::ApplyEnabling() {
  for (QCheckBox *C : {MaximumOptimization, FullColorOptimization}) C->setEnabled(UsePNGOUT->isChecked());
  TransparentGroup->setEnabled(IndexColor->isChecked());
  const bool Own = TransparentType->currentIndex() == 5;
  Swatch->setVisible(Own);
  ChangeColorButton->setVisible(Own);
}

void TPNGOptionForm::ShowSwatch() {
  const uint32_t C = MonitorColorOf(TransparentColor) & 0xFFFFFF;
  Swatch->setStyleSheet(QStringLiteral("background-color: rgb(%1, %2, %3)")
                            .arg(C & 0xFF)
                            .arg((C >> 8) & 0xFF)
                            .arg((C >> 16) & 0xFF));
}

void TPNGOptionForm::ChangeColor() {
  uint32_t C = TransparentColor;
  if (FPlace.ChooseColor(C, CustomColors)) {
    TransparentColor = C & 0xFFFFFF;
    ShowSwatch();
  }
}

void TPNGOptionForm::Store() {
  TPNGOption &P = PNGOption;
  P.CompressLevel = CompressLevel->IntValue();
  P.Filter = 0;
  for (size_t i = 0; i < Filters.size(); ++i)
    if (Filters[i]->isChecked()) P.Filter |= PNG_FILTER_BITS[i];
  P.UsePNGOUT = UsePNGOUT->isChecked();
  P.MaximumOptimization = MaximumOptimization->isChecked();
  P.FullColorOptimization = FullColorOptimization->isChecked();
  P.IndexColor = IndexColor->isChecked();
  P.TransparentType = TransparentType->currentIndex();
  P.TransparentColor = TransparentColor;
  P.UsebKGDChunk = UsebKGDChunk->isChecked();
  P.Is16Bit = Is16Bit->currentIndex();
  P.UseWIC = UseWIC->isChecked();
  SystemOption.CustomPalette = CustomColors;
}

// ---- TIFF ----

TTIFFOptionForm::TTIFFOptionForm(const TFormatOptionPlace &Place, QWidget *Parent)
    : TFormatPage(QStringLiteral("TIFF設定"), Place, Parent) {
  auto *L = new QVBoxLayout(this);
  // Every system this port runs on is past version 5, so the fourth
  // method is always offered.
  CompressionMethod = ChoiceList({"無圧縮", "LZW", "ZIP", "LZWHDifferencing"}, this);
  L->addWidget(Row({new QLabel(QStringLiteral("圧縮方法")), CompressionMethod}, this));
  EmbedThumbnail = new QCheckBox(QStringLiteral("サムネイルを埋め込む"), this);
  L->addWidget(EmbedThumbnail);
  Is16Bit = SixteenBitList(this);
  L->addWidget(Row({new QLabel(QStringLiteral("16ビット出力")), Is16Bit}, this));
  IndexColor = new QCheckBox(QStringLiteral("256色以下ならインデックスカラー化する"), this);
  L->addWidget(IndexColor);
  L->addStretch(1);

  const TTIFFOption &T = TIFFOption;
  SelectIndex(CompressionMethod, T.CompressionMethod);
  EmbedThumbnail->setChecked(T.EmbedThumbnail != 0);
  SelectIndex(Is16Bit, T.Is16Bit);
  IndexColor->setChecked(T.IndexColor != 0);
}

void TTIFFOptionForm::Store() {
  TTIFFOption &T = TIFFOption;
  T.CompressionMethod = CompressionMethod->currentIndex();
  T.EmbedThumbnail = EmbedThumbnail->isChecked();
  T.Is16Bit = Is16Bit->currentIndex();
  T.IndexColor = IndexColor->isChecked();
}

// ---- HD Photo ----

THDPOptionForm::THDPOptionForm(const TFormatOptionPlace &Place, QWidget *Parent)
    : TFormatPage(QStringLiteral("HD Photo設定"), Place, Parent) {
  const THDPOption &H = HDPOption;
  auto *L = new QVBoxLayout(this);
  UseCodecOptions = new QCheckBox(QStringLiteral("詳細設定"), this);
  L->addWidget(UseCodecOptions);
  CodecGroup = new QWidget(this);
  auto *G = new QGridLayout(CodecGroup);
  G->setContentsMargins(20, 0, 0, 0);
  int R = 0;
  Quality = NumField(HDP_QUALITY_RANGE, HDPQualityShown(H.Quality), CodecGroup);
  QualityBar = new QScrollBar(Qt::Horizontal, CodecGroup);
  QualityBar->setMinimumWidth(160);
  TieBarToField(QualityBar, Quality);
  G->addWidget(new QLabel(QStringLiteral("品質"), CodecGroup), R, 0);
  G->addWidget(QualityBar, R, 1);
  G->addWidget(Quality, R++, 2);
  G->addWidget(new QLabel(QStringLiteral("オーバーラップ"), CodecGroup), R, 0);
  Overlap = NumField(HDP_OVERLAP_RANGE, H.Overlap, CodecGroup);
  G->addWidget(Overlap, R++, 2);
  G->addWidget(new QLabel(QStringLiteral("サンプリング比"), CodecGroup), R, 0);
  Subsampling = ChoiceList({"4:2:0", "4:2:2", "4:4:4"}, CodecGroup);
  G->addWidget(Subsampling, R++, 2);
  G->addWidget(new QLabel(QStringLiteral("水平方向ブロック数"), CodecGroup), R, 0);
  HorizontalTileSlices = NumField(HDP_TILE_SLICES_RANGE, HDPTileSlicesShown(H.HorizontalTileSlices), CodecGroup);
  G->addWidget(HorizontalTileSlices, R++, 2);
  G->addWidget(new QLabel(QStringLiteral("垂直方向ブロック数"), CodecGroup), R, 0);
  VerticalTileSlices = NumField(HDP_TILE_SLICES_RANGE, HDPTileSlicesShown(H.VerticalTileSlices), CodecGroup);
  G->addWidget(VerticalTileSlices, R++, 2);
  AlphaQualityOn = new QCheckBox(QStringLiteral("アルファチャンネルの品質を設定する"), CodecGroup);
  G->addWidget(AlphaQualityOn, R++, 0, 1, 3);
  AlphaQuality = NumField(HDP_QUALITY_RANGE, HDPQualityShown(H.AlphaQuality), CodecGroup);
  AlphaQualityBar = new QScrollBar(Qt::Horizontal, CodecGroup);
  TieBarToField(AlphaQualityBar, AlphaQuality);
  G->addWidget(new QLabel(QStringLiteral("品質"), CodecGroup), R, 0);
  G->addWidget(AlphaQualityBar, R, 1);
  G->addWidget(AlphaQuality, R++, 2);
  L->addWidget(CodecGroup);
  EmbedThumbnail = new QCheckBox(QStringLiteral("サムネイルを埋め込む"), this);
  L->addWidget(EmbedThumbnail);
  Is16Bit = SixteenBitList(this);
  L->addWidget(Row({new QLabel(QStringLiteral("16ビット出力")), Is16Bit}, this));
  L->addStretch(1);

  UseCodecOptions->setChecked(H.UseCodecOptions != 0);
  Subsampling->setCurrentIndex(HDPSubsamplingIndex(H.Subsampling));
  AlphaQualityOn->setChecked(H.InterleavedAlpha == 0);
  EmbedThumbnail->setChecked(H.EmbedThumbnail != 0);
  SelectIndex(Is16Bit, H.Is16Bit);
  connect(UseCodecOptions, &QCheckBox::toggled, this, &THDPOptionForm::ApplyEnabling);
  connect(AlphaQualityOn, &QCheckBox::toggled, this, &THDPOptionForm::ApplyEnabling);
  ApplyEnabling();
}

void THDPOptionForm::ApplyEnabling() {
  CodecGroup->setVisible(UseCodecOptions->isChecked());
  AlphaQualityBar->setEnabled(AlphaQualityOn->isChecked());
  AlphaQuality->setEnabled(AlphaQualityOn->isChecked());
}

void THDPOptionForm::Store() {
  THDPOption &H = HDPOption;
  H.UseCodecOptions = UseCodecOptions->isChecked();
  H.Quality = HDPQualityStored(Quality->IntValue());
  H.Overlap = Overlap->IntValue();
  H.Subsampling = Subsampling->currentIndex() + 1;
  H.HorizontalTileSlices = HDPTileSlicesStored(HorizontalTileSlices->IntValue());
  H.VerticalTileSlices = HDPTileSlicesStored(VerticalTileSlices->IntValue());
  H.InterleavedAlpha = !AlphaQualityOn->isChecked();
  H.AlphaQuality = HDPQualityStored(AlphaQuality->IntValue());
  H.EmbedThumbnail = EmbedThumbnail->isChecked();
  H.Is16Bit = Is16Bit->currentIndex();
}

// ---- metadata ----

TMetadataOptionForm::TMetadataOptionForm(const TFormatOptionPlace &Place, QWidget *Parent)
    : TFormatPage(QStringLiteral("メタデータ設定"), Place, Parent) {
  auto *L = new QVBoxLayout(this);
  // The boxes that follow "Exif情報をコピーする" stand indented below it.
  auto *ExifBoxes = new QWidget(this);
  auto *EL = new QVBoxLayout(ExifBoxes);
  EL->setContentsMargins(20, 0, 0, 0);
  auto Box = [&](const char *Caption, QVBoxLayout *In = nullptr) {
    auto *C = new QCheckBox(U(Caption), this);
    (In ? In : L)->addWidget(C);
    return C;
  };
  AddExifInfo = Box("Exif情報をコピーする");
  L->addWidget(ExifBoxes);
  UpdateExif = Box("Exif情報の画像サイズを更新する", EL);
  UpdateExifResolution = Box("Exif情報の解像度を更新する", EL);
  UpdateExifThumbnail = Box("Exif情報のサムネイルを更新する", EL);
  UpdateSoftwareTag = Box("Softwareタグを更新する", EL);
  DeleteGPSInfo = Box("GPS情報を削除する", EL);
  KeepICCProfile = Box("ICCプロファイルをコピーする");
  KeepCreationTime = Box("作成日時をコピーする");
  KeepLastWriteTime = Box("更新日時をコピーする");
  KeepResolution = Box("解像度をコピーする");
  Resolution = NumField(METADATA_RESOLUTION_RANGE, MetadataOption.Resolution, this);
  L->addWidget(Row({new QLabel(QStringLiteral("解像度(dpi)")), Resolution}, this));
  WritepHYsChunk = Box("PNGファイルに解像度を記録する");
  KeepAllExtraMarker = Box("その他の情報をコピーする(JPEGのみ)");
  UpdateTimestampFromExif = Box("写真の撮影日でタイムスタンプを更新する");
  L->addStretch(1);

  const TJPEGOption &J = JPEGOption;
  const TMetadataOption &M = MetadataOption;
  AddExifInfo->setChecked(J.AddExifInfo);
  UpdateExif->setChecked(J.UpdateExif);
  UpdateExifResolution->setChecked(J.UpdateExifResolution);
  UpdateExifThumbnail->setChecked(J.UpdateExifThumbnail);
  UpdateSoftwareTag->setChecked(M.UpdateSoftwareTag != 0);
  DeleteGPSInfo->setChecked(WembSettings.Option.DeleteGPSInfoIFD != 0);
  KeepICCProfile->setChecked(M.KeepICCProfile);
  KeepCreationTime->setChecked(M.KeepCreationTime != 0);
  KeepLastWriteTime->setChecked(M.KeepLastWriteTime != 0);
  KeepResolution->setChecked(M.KeepResolution);
  WritepHYsChunk->setChecked(PNGOption.WritepHYsChunk != 0);
  KeepAllExtraMarker->setChecked(M.KeepAllExtraMarker != 0);
  UpdateTimestampFromExif->setChecked(M.UpdateTimestampFromExif != 0);
  connect(AddExifInfo, &QCheckBox::toggled, this, &TMetadataOptionForm::ApplyEnabling);
  connect(KeepResolution, &QCheckBox::toggled, this, &TMetadataOptionForm::ApplyEnabling);
  ApplyEnabling();
}

void TMetadataOptionForm::ApplyEnabling() {
  const TMetadataEnabling E = MetadataEnabling(AddExifInfo->isChecked(), KeepResolution->isChecked());
  UpdateExif->setEnabled(E.UpdateExif);
  UpdateExifResolution->setEnabled(E.UpdateExifResolution);
  UpdateExifThumbnail->setEnabled(E.UpdateExifThumbnail);
  UpdateSoftwareTag->setEnabled(E.UpdateSoftwareTag);
  DeleteGPSInfo->setEnabled(E.DeleteGPSInfo);
}

void TMetadataOptionForm::Store() {
  TJPEGOption &J = JPEGOption;
  TMetadataOption &M = MetadataOption;
  J.AddExifInfo = AddExifInfo->isChecked();
  J.UpdateExif = UpdateExif->isChecked();
  J.UpdateExifResolution = UpdateExifResolution->isChecked();
  J.UpdateExifThumbnail = UpdateExifThumbnail->isChecked();
  M.UpdateSoftwareTag = UpdateSoftwareTag->isChecked();
  WembSettings.Option.DeleteGPSInfoIFD = DeleteGPSInfo->isChecked() ? LongTrue : LongFalse;
  M.KeepICCProfile = KeepICCProfile->isChecked();
  M.KeepCreationTime = KeepCreationTime->isChecked();
  M.KeepLastWriteTime = KeepLastWriteTime->isChecked();
  M.KeepResolution = KeepResolution->isChecked();
  M.Resolution = Resolution->IntValue();
  PNGOption.WritepHYsChunk = WritepHYsChunk->isChecked();
  M.KeepAllExtraMarker = KeepAllExtraMarker->isChecked();
  M.UpdateTimestampFromExif = UpdateTimestampFromExif->isChecked();
}
