// The overlay-text template of the text effect, and what it shares with the
// output-name template of the naming pass: the start-number directive and
// the running serial number, the date parts of a date-time and the date and
// number tokens. The naming pass (batch/FileNameTemplate.h) builds on these.
#pragma once

#include "effects/RunSettings.h"

#include <cstdint>
#include <string>

// The running serial number of the program (Int32). Reading the settings
// sets it to TFileOption.StartNumber.
extern int32_t NextSerialNumber;

// Removes every start-number directive ("<s" digits ">") from Template and
// answers the number of the last one (1 when its digits do not parse);
// without one File.StartNumber when File.ResetType is 0, else
// NextSerialNumber. The seconds token "<ss>" is not a directive.
int32_t ParseStartNumber(std::string &Template, const TFileOption &File);

// The overlay text of a template: NewName and OldName are the output and
// source file names without folders, Time the entry's date.
std::string ExpandTextTemplate(const std::string &Template, const std::string &NewName,
                               const std::string &OldName, int32_t Number, double Time);

// Parts of a date-time (days since 1899-12-30), rounded to the millisecond.
struct TDateTimeParts {
  int32_t Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0;
};
TDateTimeParts DecodeDateTime(double DateTime);

// Decimal digits of N, zero-padded to Width digits ("-005" for -5 and 3).
std::string PaddedNumber(int64_t N, int Width);
// Appends the single date or time field a token names ("yyyy", "yy", "mm",
// "dd", "hh", "nn", "ss"); false for any other token.
bool AppendDateField(const std::string &Token, const TDateTimeParts &D, std::string &R);
// A file name without its last extension.
std::string NameWithoutExtension(const std::string &Name);
