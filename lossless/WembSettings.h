// The settings of lossless mode: section "WEMB" (with the older
// "Optimize"/"Progressizve" keys behind an unset "OptimizeMode") and the
// segment list in sections "Segment1" and on.
#pragma once

#include "lossless/WembOption.h"

class TMemIniFile;

struct TWembSettings {
  TWembOption Option;
  std::vector<TSegmentInfo> Segments = DefaultSegmentList();
};

// The program-wide record, read with the other settings; a run copies it.
extern TWembSettings WembSettings;

void ReadWembSettings(const TMemIniFile &Ini, TWembSettings &S);
// Writes "WEMB" (the older optimisation keys deleted) and the segment list
// as "Segment1" onwards, erasing the sections stored before.
void WriteWembSettings(TMemIniFile &Ini, const TWembSettings &S);

// The option dialog's switch between deleting and protecting the checked
// segments: every check mark is inverted, so the same segments go.
void SwitchSegmentDeleteMode(TWembSettings &S, int32_t NewMode);
