// The format dialog TFormatOptionForm "フォーマット設定" and its seven page
// dialogs: "BMP設定", "JPEG設定", "PNG設定", "TIFF設定", "HD Photo設定",
// "フォーマット変換設定" and "メタデータ設定". Each page fills its controls
// from the program-wide records when it is made and stores them back only
// when the container's OK calls it, in page order; Cancel changes nothing.
// The rules that need no window are in FormatOptionRules.h.
#pragma once

#include "app/window/options/FormatOptionRules.h"

#include <QDialog>

#include <array>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QTableWidget;
class TNumEdit;
class TQuantizationTableDialog;

// Where the pages look outside the records, and how they ask the user (the
// tests answer in place of the boxes).
struct TFormatOptionPlace {
  std::string DataFolder;  // "LumaQT/" and "ChromaQT/" below it
  std::string BinFolder;   // the PNG optimiser "pngout" in it
  // The input box: false on Cancel; Text comes in filled and goes out answered.
  std::function<bool(const QString &Title, const QString &Prompt, QString &Text)> InputBox;
  // A warning with a beep.
  std::function<void(const QString &Text)> Warn;
  // A yes/no question.
  std::function<bool(const QString &Text)> Confirm;
  // The colour dialog: starts with Color and the custom colours; false on Cancel.
  std::function<bool(uint32_t &Color, std::array<int32_t, 16> &Custom)> ChooseColor;
  // Runs the modal registration dialog ("追加..." of the JPEG page).
  std::function<void(TQuantizationTableDialog &Dialog)> RunRegistration;
};
// The program's data and bin folders, and Qt's own boxes.
TFormatOptionPlace DefaultFormatOptionPlace();

// One page: filled at creation, Store on the container's OK.
class TFormatPage : public QWidget {
  Q_OBJECT
public:
  TFormatPage(const QString &Caption, const TFormatOptionPlace &Place, QWidget *Parent);
  virtual void Store() = 0;

protected:
  const TFormatOptionPlace &FPlace;
};

// "BMP設定": TBitmapOption.
class TBitmapOptionForm : public TFormatPage {
  Q_OBJECT
public:
  TBitmapOptionForm(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  void Store() override;

  QCheckBox *AlphaChannelSupport = nullptr;  // "αチャンネル付きでの出力を許可する"
  QGroupBox *HeaderGroup = nullptr;          // "ヘッダ"
  QComboBox *AlphaBitmapHeaderType = nullptr;
  QComboBox *AlphaCheckType = nullptr;       // "ビットフィールド無し32bitビットマップ"
  QCheckBox *IndexColor = nullptr;

private:
  void ApplyEnabling();
};

// "JPEG設定": TJPEGOption with the choice of registered quantisation tables.
class TJPEGOptionForm : public TFormatPage {
  Q_OBJECT
public:
  TJPEGOptionForm(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  void Store() override;
  // Re-reads both table folders into the lists (after a registration),
  // keeping the chosen names where they are still listed.
  void RefreshTables();
  // "追加...": the registration dialog, then the lists refreshed.
  void RegisterTables();

  QLabel *QualityLabel = nullptr;
  TNumEdit *Quality = nullptr;
  TNumEdit *Smoothing = nullptr;
  QComboBox *SampleType = nullptr;
  QComboBox *DecodeWithDownScaling = nullptr;  // "JPEGの縮小展開"
  QWidget *DownScalingGroup = nullptr;         // "出力サイズの" … "%まで許可"
  TNumEdit *DownScalingLimit = nullptr;
  QComboBox *DCTMethod = nullptr;
  QCheckBox *UseFileSizeLimit = nullptr;
  QWidget *FileSizeGroup = nullptr;            // size, "品質下限", second "サンプリング比"
  TNumEdit *FileSizeLimit = nullptr;
  TNumEdit *QualityLimit = nullptr;
  QComboBox *SampleTypeLimit = nullptr;
  QCheckBox *AlwaysRecompress = nullptr;
  QCheckBox *OmitAPP0Marker = nullptr;
  QCheckBox *KeepQuality = nullptr;
  QCheckBox *Progressive = nullptr;
  QCheckBox *UseQuantizationTable = nullptr;   // "量子化テーブルを直接指定する"
  QWidget *TableLists = nullptr;               // "輝度" and "色差" with their lists
  QComboBox *LumaTable = nullptr;              // item data: the file name
  QComboBox *ChromaTable = nullptr;
  QPushButton *AddTable = nullptr;             // "追加..."

private:
  void ApplyEnabling();
  void FillTableList(QComboBox *List, const std::string &Folder, const std::string &Chosen);
};

// "PNG設定": TPNGOption.
class TPNGOptionForm : public TFormatPage {
  Q_OBJECT
public:
  TPNGOptionForm(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  void Store() override;
  // "変更...": the colour dialog for the transparent colour.
  void ChangeColor();

  TNumEdit *CompressLevel = nullptr;
  std::array<QCheckBox *, 5> Filters{};   // "None", "Sub", "Up", "Average", "Paeth"
  QGroupBox *PNGOUTGroup = nullptr;       // enabled only where the optimiser exists
  QCheckBox *UsePNGOUT = nullptr;
  QCheckBox *MaximumOptimization = nullptr;
  QCheckBox *FullColorOptimization = nullptr;
  QCheckBox *IndexColor = nullptr;
  QGroupBox *TransparentGroup = nullptr;  // "透明色"
  QComboBox *TransparentType = nullptr;
  QLabel *Swatch = nullptr;               // the colour as the monitor shows it
  QPushButton *ChangeColorButton = nullptr;
  QCheckBox *UsebKGDChunk = nullptr;
  QComboBox *Is16Bit = nullptr;           // "16ビット出力"
  QCheckBox *UseWIC = nullptr;

  uint32_t TransparentColor = 0;          // the colour being edited, 0x00BBGGRR
  std::array<int32_t, 16> CustomColors{}; // the colour dialog's custom colours, stored on OK

private:
  void ApplyEnabling();
  void ShowSwatch();
};

// "TIFF設定": TTIFFOption.
class TTIFFOptionForm : public TFormatPage {
  Q_OBJECT
public:
  TTIFFOptionForm(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  void Store() override;

  QComboBox *CompressionMethod = nullptr;  // "圧縮方法"
  QCheckBox *EmbedThumbnail = nullptr;
  QComboBox *Is16Bit = nullptr;
  QCheckBox *IndexColor = nullptr;
};

// "HD Photo設定": THDPOption, the values as shown (see FormatOptionRules.h).
class THDPOptionForm : public TFormatPage {
  Q_OBJECT
public:
  THDPOptionForm(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  void Store() override;

  QCheckBox *UseCodecOptions = nullptr;   // "詳細設定"
  QWidget *CodecGroup = nullptr;          // shown with it
  QScrollBar *QualityBar = nullptr;
  TNumEdit *Quality = nullptr;
  TNumEdit *Overlap = nullptr;
  QComboBox *Subsampling = nullptr;
  TNumEdit *HorizontalTileSlices = nullptr;
  TNumEdit *VerticalTileSlices = nullptr;
  QCheckBox *AlphaQualityOn = nullptr;    // "アルファチャンネルの品質を設定する"
  QScrollBar *AlphaQualityBar = nullptr;
  TNumEdit *AlphaQuality = nullptr;
  QCheckBox *EmbedThumbnail = nullptr;
  QComboBox *Is16Bit = nullptr;

private:
  void ApplyEnabling();
};

// "フォーマット変換設定": the conversion table (TPictureFormatForm holds it).
class TPictureFormatPage : public TFormatPage {
  Q_OBJECT
public:
  TPictureFormatPage(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  void Store() override;
  void AddRow();
  void EditRow();
  void DeleteRow();
  void SelectRow(int Row);

  QTableWidget *Table = nullptr;  // inputs, output pick list
  QPushButton *AddButton = nullptr, *EditButton = nullptr, *DeleteButton = nullptr;
  TPictureFormatForm &Form() { return FForm; }

private:
  void ShowRows();
  void ApplyEnabling();
  TPictureFormatForm FForm;
};

// "メタデータ設定": metadata fields of the JPEG, PNG, metadata and lossless records.
class TMetadataOptionForm : public TFormatPage {
  Q_OBJECT
public:
  TMetadataOptionForm(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  void Store() override;

  QCheckBox *AddExifInfo = nullptr;
  QCheckBox *UpdateExif = nullptr;
  QCheckBox *UpdateExifResolution = nullptr;
  QCheckBox *UpdateExifThumbnail = nullptr;
  QCheckBox *UpdateSoftwareTag = nullptr;
  QCheckBox *DeleteGPSInfo = nullptr;
  QCheckBox *KeepICCProfile = nullptr;
  QCheckBox *KeepCreationTime = nullptr;
  QCheckBox *KeepLastWriteTime = nullptr;
  QCheckBox *KeepResolution = nullptr;
  TNumEdit *Resolution = nullptr;
  QCheckBox *WritepHYsChunk = nullptr;
  QCheckBox *KeepAllExtraMarker = nullptr;
  QCheckBox *UpdateTimestampFromExif = nullptr;

private:
  void ApplyEnabling();
};

// The page order of the dialog.
enum : int32_t {
  FORMAT_PAGE_BMP = 0,
  FORMAT_PAGE_JPEG,
  FORMAT_PAGE_PNG,
  FORMAT_PAGE_TIFF,
  FORMAT_PAGE_HDP,
  FORMAT_PAGE_CONVERT,
  FORMAT_PAGE_METADATA,
  FORMAT_PAGE_COUNT
};

class TFormatOptionForm : public QDialog {
  Q_OBJECT
public:
  // Opens on Page (a page out of range opens the first).
  TFormatOptionForm(int32_t Page, TFormatOptionPlace Place = DefaultFormatOptionPlace(), QWidget *Parent = nullptr);
  ~TFormatOptionForm() override;
  // OK: every page stored in page order, then the shown page remembered
  // in "FormatOptionPage".
  void accept() override;

  QTabWidget *Pages = nullptr;
  QDialogButtonBox *Buttons = nullptr;
  TBitmapOptionForm *BitmapPage = nullptr;
  TJPEGOptionForm *JPEGPage = nullptr;
  TPNGOptionForm *PNGPage = nullptr;
  TTIFFOptionForm *TIFFPage = nullptr;
  THDPOptionForm *HDPPage = nullptr;
  TPictureFormatPage *ConvertPage = nullptr;
  TMetadataOptionForm *MetadataPage = nullptr;

private:
  std::unique_ptr<TFormatOptionPlace> FPlace;  // the pages keep a reference
};

// The format-settings command (the remembered page) and the conversion-table
// command (page "コンバート"); true on OK.
bool ShowFormatOptionForm(QWidget *Parent);
bool ShowConvertTableForm(QWidget *Parent);

// The registration dialog "量子化テーブルの登録": one dropped JPEG file, a
// name, "登録". Its rules are TQuantizationTableForm.
class TQuantizationTableDialog : public QDialog {
  Q_OBJECT
public:
  TQuantizationTableDialog(const TFormatOptionPlace &Place, QWidget *Parent = nullptr);
  // What a drop does: the file's tables become the candidates.
  void DropFile(const QString &Path);
  // "登録": asks before overwriting, writes both files, counts again.
  // False when nothing was written.
  bool Register();

  QLabel *Prompt = nullptr;   // the drop prompt, then the file and its table count
  QLineEdit *Name = nullptr;
  QPushButton *RegisterButton = nullptr;
  QLabel *Counter = nullptr;  // "登録済みテーブル数 ..."
  QLabel *Message = nullptr;  // why a name or a write was refused
  TQuantizationTableForm &Form() { return FForm; }

protected:
  void dragEnterEvent(QDragEnterEvent *E) override;
  void dropEvent(QDropEvent *E) override;

private:
  void ApplyEnabling();
  TFormatOptionPlace FPlace;  // a copy: the dialog may outlive the caller's
  TQuantizationTableForm FForm;
};
