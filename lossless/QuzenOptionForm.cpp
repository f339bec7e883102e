// The lossless-JPEG dialog's rules and the segment dialog's choices.
#include "lossless/QuzenOptionForm.h"

#include <filesystem>

namespace fs = std::filesystem;

TQuzenOptionForm::TQuzenOptionForm(const TWembSettings &Settings)
    : Option(Settings.Option), FSegments(Settings.Segments), FDeleteMode(Settings.Option.SegmentDeleteMode) {
  SortSegmentList(FSegments);
}

void TQuzenOptionForm::SetDeleteMode(int32_t Mode) {
  if (Mode == FDeleteMode) return;
  FDeleteMode = Mode;
  for (TSegmentInfo &S : FSegments) S.Check = S.Check ? LongFalse : LongTrue;
}

namespace {

// Sorts the list and answers where the entry that stood at At went. The
// sort is stable and orders by marker and header only, so among the entries
// equal to it in both the entry keeps its rank.
int SortAndFind(std::vector<TSegmentInfo> &List, size_t At) {
  const uint16_t Marker = List[At].Marker;
  const std::string Header = List[At].Header;
  const auto SameKey = [&](const TSegmentInfo &S) { return S.Marker == Marker && S.Header == Header; };
  size_t Rank = 0;
  for (size_t i = 0; i < At; ++i) Rank += SameKey(List[i]);
  SortSegmentList(List);
  for (size_t i = 0; i < List.size(); ++i)
    if (SameKey(List[i])) return int(i + Rank);
  return -1;
}

}  // namespace

int TQuzenOptionForm::Add(TSegmentInfo Segment) {
  Segment.Check = LongTrue;
  FSegments.push_back(std::move(Segment));
  return SortAndFind(FSegments, FSegments.size() - 1);
}

int TQuzenOptionForm::Edit(int Index, const TSegmentInfo &Segment) {
  if (Index < 0 || size_t(Index) >= FSegments.size()) return -1;
  FSegments[size_t(Index)].Marker = Segment.Marker;
  FSegments[size_t(Index)].Header = Segment.Header;
  return SortAndFind(FSegments, size_t(Index));
}

void TQuzenOptionForm::Delete(int Index) {
  if (Index < 0 || size_t(Index) >= FSegments.size()) return;
  FSegments.erase(FSegments.begin() + Index);
}

void TQuzenOptionForm::SetChecked(int Index, bool Checked) {
  if (Index < 0 || size_t(Index) >= FSegments.size()) return;
  FSegments[size_t(Index)].Check = Checked ? LongTrue : LongFalse;
}

void TQuzenOptionForm::StoreTo(TWembSettings &Settings) const {
  Settings.Option = Option;
  Settings.Option.SegmentDeleteMode = FDeleteMode;
  Settings.Segments = FSegments;
}

std::string SegmentMarkerChoice(int Index) {
  if (Index >= 0 && Index < SEGMENT_CHOICE_COM) return "APP" + std::to_string(Index);
  return "COM";
}

int SegmentMarkerIndex(uint32_t Marker) {
  if (Marker >= JPEG_APP0 && Marker <= JPEG_APP15) return int(Marker - JPEG_APP0);
  return SEGMENT_CHOICE_COM;
}

TSegmentInfo SegmentFromChoice(int Index, const std::string &Header) {
  TSegmentInfo S;
  if (Index >= 0 && Index < SEGMENT_CHOICE_COM) {
    S.Marker = uint16_t(JPEG_APP0 + Index);
    S.Header = Header;
  } else {
    S.Marker = JPEG_COM;  // a comment has no header to match
  }
  return S;
}

std::string WembImportStartFolder(const std::string &Name) {
  const fs::path P(Name);
  if (!P.is_absolute()) return {};
  std::error_code Ec;
  const fs::path Folder = P.parent_path();
  return fs::is_directory(Folder, Ec) ? Folder.string() : std::string();
}
