// The profile keys the runner reads: one table with each key's section,
// name, type, default, allowed range and meaning. The range check of a
// loaded profile, the "--set" check of the command line, the "--print-profile"
// output and the key reference (docs/profile-keys.md) are all made from it,
// joined with the keys the readers themselves ask for (KeysTheReadersRead).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TMemIniFile;
struct TIniKeyRead;

// What happens to a stored number outside the range: it is clamped to the
// nearer end, or (where the reader has its own rule) the reader's
// replacement value is used.
enum class TOutOfRange { Clamp, ReaderRule };

struct TProfileKey {
  const char *Section;
  const char *Key;
  char Type;             // 'I' integer, 'B' Boolean (0 or 1), 'S' text, 'F' decimal number
  const char *Default;   // as text; a description when it depends on the machine
  bool HasRange;
  double Min;
  double Max;
  TOutOfRange OutOfRange;
  const char *ReaderValue;  // with ReaderRule: the value the reader then uses
  const char *Meaning;
  bool MachineDefault = false;  // Default describes a value that depends on the machine
};

// The documented keys, in document order.
const std::vector<TProfileKey> &ProfileKeyTable();

// Every key the runner reads: the table's keys, then keys the readers ask
// for that the table does not describe (with their type and default as read
// and no meaning). Readers is KeysTheReadersRead().
std::vector<TProfileKey> ProfileKeysRead(const std::vector<TIniKeyRead> &Readers);

// The key Section.Key (ASCII case ignored) among Keys, or null.
const TProfileKey *FindProfileKey(const std::vector<TProfileKey> &Keys, std::string_view Section,
                                  std::string_view Key);

// Brings every stored number of a documented range into it, in place; one
// warning line per key changed ("JPEG.Quality=150 is outside 1 to 100; 100
// is used"). Text that is not a number is left to the readers' defaults.
std::vector<std::string> ClampProfileValues(TMemIniFile &Ini, const std::vector<TProfileKey> &Keys);

// A value given on the command line for Key: empty when it is acceptable,
// else the reason ("JPEG.Quality must be an integer from 1 to 100").
std::string CheckProfileValue(const TProfileKey &Key, std::string_view Value);

// The key reference as a Markdown document.
std::string ProfileKeysMarkdown(const std::vector<TProfileKey> &Keys);

// The effective settings: Ini's lines as they stand, and every key of Keys
// that Ini lacks with its default (unless the default depends on the
// machine), as INI text without a byte-order mark. Keys is the table: the
// effect sections are left as they stand, since some of their defaults
// depend on which keys are present.
std::string EffectiveProfileText(const TMemIniFile &Ini, const std::vector<TProfileKey> &Keys);
