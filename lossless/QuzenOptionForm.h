// The lossless-JPEG dialog "Quzen設定" and its segment dialog without their
// windows: the copy of the settings the dialog edits, the segment list with
// its re-sorting after every change, the check marks that follow a switch
// between deleting and protecting, and what OK stores. The windows copy this
// into their controls and back; the same rules run in the tests.
#pragma once

#include "lossless/WembSettings.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char *QUZEN_DIALOG_CAPTION = "Quzen設定";

class TQuzenOptionForm {
public:
  // Works on a copy of Settings; nothing reaches them before StoreTo.
  explicit TQuzenOptionForm(const TWembSettings &Settings);

  // Every control but the segment list and the deletion mode.
  TWembOption Option;

  const std::vector<TSegmentInfo> &Segments() const { return FSegments; }
  // 0 "任意のセグメントを削除する", 1 "任意のセグメントを保護する". A change
  // inverts every check mark, so that the same segments stay selected for
  // deletion.
  int32_t DeleteMode() const { return FDeleteMode; }
  void SetDeleteMode(int32_t Mode);

  // "追加": the segment joins the list checked; answers its index in the
  // re-sorted list.
  int Add(TSegmentInfo Segment);
  // "編集": the entry takes the marker and header, keeps its check mark;
  // answers its index in the re-sorted list (-1 for an index out of range).
  int Edit(int Index, const TSegmentInfo &Segment);
  // "削除"; an index out of range changes nothing.
  void Delete(int Index);
  void SetChecked(int Index, bool Checked);

  // OK: every control into the options, the list with its marks replacing
  // the stored one.
  void StoreTo(TWembSettings &Settings) const;

private:
  std::vector<TSegmentInfo> FSegments;
  int32_t FDeleteMode = 0;
};

// The segment dialog: a choice of "APP0" to "APP15" and "COM", and a header.
inline constexpr int SEGMENT_MARKER_CHOICES = 17;
inline constexpr int SEGMENT_CHOICE_COM = 16;
// The text of choice Index ("APP3", "COM").
std::string SegmentMarkerChoice(int Index);
// The choice that shows Marker: APPn is n, anything else (COM included) is COM.
int SegmentMarkerIndex(uint32_t Marker);
// The entry the dialog gives: APPn for choices 0 to 15; COM, with no header,
// for the COM choice and for no choice at all (-1).
TSegmentInfo SegmentFromChoice(int Index, const std::string &Header);

// The folder an import file chooser opens in: the folder of Name when Name
// is an absolute path and that folder exists, else "" (the chooser's own).
std::string WembImportStartFolder(const std::string &Name);
