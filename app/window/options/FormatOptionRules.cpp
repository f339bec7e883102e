// The format dialog's rules without a window.
#include "app/window/options/FormatOptionRules.h"

#include "batch/FileNameTemplate.h"
#include "core/AsciiCase.h"

#include <algorithm>
#include <filesystem>

namespace {

// Splits at commas, keeping empty items.
std::vector<std::string> SplitCommas(const std::string &Text) {
  std::vector<std::string> Items;
  size_t Start = 0;
  for (;;) {
    const size_t Comma = Text.find(',', Start);
    Items.push_back(Text.substr(Start, Comma == std::string::npos ? std::string::npos : Comma - Start));
    if (Comma == std::string::npos) return Items;
    Start = Comma + 1;
  }
}

std::string Trimmed(const std::string &S) {
  const size_t First = S.find_first_not_of(" \t");
  if (First == std::string::npos) return {};
  return S.substr(First, S.find_last_not_of(" \t") - First + 1);
}

}  // namespace

void LowerJPEGLimits(TJPEGOption &J) {
  if (J.SampleTypeLimit != 3 && J.SampleType < J.SampleTypeLimit) J.SampleTypeLimit = J.SampleType;
  if (J.QualityLimit > J.Quality) J.QualityLimit = J.Quality;
}

bool QuantizationTablesAvailable(const std::string &DataFolder) {
  return CountDqtFiles(LumaQTFolder(DataFolder)) > 0 && CountDqtFiles(ChromaQTFolder(DataFolder)) > 0;
}

bool LoadChosenQuantizationTables(const std::string &DataFolder, TJPEGOption &J) {
  uint32_t Luma[64], Chroma[64];
  if (!LoadQuantizationTablePair(DataFolder, J.LumaTableName, J.ChromaTableName, Luma, Chroma)) return false;
  for (int i = 0; i < 64; ++i) {
    J.LumaQT[i] = uint16_t(Luma[i]);
    J.ChromaQT[i] = uint16_t(Chroma[i]);
  }
  return true;
}

TMetadataEnabling MetadataEnabling(bool AddExifInfo, bool KeepResolution) {
  return {AddExifInfo, AddExifInfo && !KeepResolution, AddExifInfo, AddExifInfo, AddExifInfo};
}

// ---- the conversion table ----

const std::array<const char *, 5> TPictureFormatForm::FormatList{
    "ビットマップ イメージ", "JPEG イメージ", "PNG イメージ", "JPEG XR イメージ", "TIFF イメージ"};
const std::array<const char *, 5> TPictureFormatForm::FormatExts{".bmp", ".jpg", ".png", ".wdp", ".tif"};

std::string RegisteredExtensionWarning(const std::string &Ext) { return Ext + "は登録済みの拡張子です"; }

TPictureFormatForm::TPictureFormatForm(const std::vector<std::string> &Table) {
  for (const std::string &Line : Table) {
    const size_t Eq = Line.find('=');
    TRow Row;
    Row.Inputs = Line.substr(0, Eq);
    const std::string Out = Eq == std::string::npos ? std::string() : Line.substr(Eq + 1);
    Row.Output = -1;
    for (size_t i = 0; i < FormatExts.size(); ++i)
      if (SameTextAscii(Out, FormatExts[i])) Row.Output = int32_t(i);
    Rows.push_back(Row);
  }
}

std::vector<std::string> TPictureFormatForm::ExtList() const {
  std::vector<std::string> List;
  for (const TRow &R : Rows)
    for (const std::string &Ext : SplitCommas(R.Inputs)) List.push_back(Ext);
  return List;
}

int32_t TPictureFormatForm::Add(const std::string &Answer, std::string &Warning) {
  Warning.clear();
  std::vector<std::string> Items;
  for (std::string Item : SplitCommas(AsciiLower(Answer))) {
    Item = Trimmed(Item);
    // An empty item (",," or a trailing comma) names no extension.
    if (Item.empty()) continue;
    if (Item.find('.') == std::string::npos) Item = "." + Item;
    Items.push_back(Item);
  }
  if (Items.empty()) return -1;
  const std::vector<std::string> Known = ExtList();
  for (const std::string &Item : Items)
    for (const std::string &K : Known)
      if (SameTextAscii(Item, K)) {
        Warning = RegisteredExtensionWarning(Item);
        return -1;
      }
  TRow Row;
  for (const std::string &Item : Items) Row.Inputs += (Row.Inputs.empty() ? "" : ",") + Item;
  Row.Output = 0;
  Rows.push_back(Row);
  return int32_t(Rows.size()) - 1;
}

bool TPictureFormatForm::Edit(int32_t Row, const std::string &Answer) {
  if (!CanEditOrDelete(Row) || Answer.empty() || Answer.find('.') == std::string::npos) return false;
  Rows[size_t(Row)].Inputs = Answer;
  return true;
}

int32_t TPictureFormatForm::Delete(int32_t Row) {
  if (!CanEditOrDelete(Row)) return Row;
  Rows.erase(Rows.begin() + Row);
  return std::min(Row, int32_t(Rows.size()) - 1);
}

bool TPictureFormatForm::CanEditOrDelete(int32_t Row) const {
  return Row >= 0 && size_t(Row) < Rows.size() && Rows[size_t(Row)].Inputs != ConvertUndefined;
}

std::vector<std::string> TPictureFormatForm::Store() const {
  std::vector<std::string> Table;
  for (const TRow &R : Rows)
    Table.push_back(R.Inputs + "=" + (R.Output >= 0 ? FormatExts[size_t(R.Output)] : UnknownExt));
  return Table;
}

// ---- the quantisation-table registration ----

TQuantizationTableForm::TQuantizationTableForm(std::string DataFolder) : FDataFolder(std::move(DataFolder)) {}

void TQuantizationTableForm::Drop(const std::string &Path) {
  Candidates = QuantizationCandidates(ExtractQuantizationTables(Path));
  Label = QuantizationTableLabel(std::filesystem::path(Path).filename().string(), Candidates.TableCount);
}

std::string TQuantizationTableForm::NameFault(const std::string &Name) {
  // The name becomes a file name in both folders: no folder part, no
  // character a file name cannot hold.
  if (Name == "." || Name == ".." || Name.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
    return InvalidFileNameMessage;
  return {};
}

bool TQuantizationTableForm::CanRegister(const std::string &Name) const {
  return !Name.empty() && Candidates.Luma.has_value();
}

std::string TQuantizationTableForm::OverwriteQuestion(const std::string &Name) const {
  if (!QuantizationTableExists(FDataFolder, Name)) return {};
  return Name + ".dqt" + QT_OVERWRITE_QUESTION;
}

void TQuantizationTableForm::Register(const std::string &Name) {
  RegisterQuantizationTables(FDataFolder, Name, *Candidates.Luma, Candidates.Chroma ? &*Candidates.Chroma : nullptr);
}

std::string TQuantizationTableForm::Counter() const { return RegisteredTableCounter(FDataFolder); }
