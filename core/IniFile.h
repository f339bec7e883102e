// The settings file in memory: the whole INI text is loaded, keys are read
// and changed, and the whole text is written back. Lines the program does not
// touch (unknown sections, unknown keys, comments, blank lines) keep their
// exact text, so a profile edited by hand or by an older version survives a
// save. Also the comma-text splitting and joining the settings rely on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One key a reader asked for: its section, name, type ('S' string, 'I'
// integer, 'B' Boolean, 'F' number) and the default it gave, as text.
struct TIniKeyRead {
  std::string Section;
  std::string Ident;
  char Type = 'S';
  std::string Default;
};

class TMemIniFile {
public:
  // Loads FileName when it exists; a missing file is an empty settings file.
  // A file that exists but cannot be read raises ETessivoError.
  explicit TMemIniFile(std::string FileName = std::string());

  // Replaces the contents by the text in Bytes: UTF-8 with or without a
  // byte-order mark, UTF-16 with a mark, else Shift-JIS (CP932) for profiles
  // written by the Windows program when the bytes are not valid UTF-8.
  void LoadFromBytes(std::string_view Bytes);
  // The file as it would be written: UTF-8 with a byte-order mark.
  std::string SaveToBytes() const;
  // Writes SaveToBytes() to the file name (through a temporary file renamed
  // over the target, so a failed write never leaves half a file). Raises
  // ETessivoError when there is no file name or the file cannot be written.
  void UpdateFile() const;
  const std::string &FileName() const { return FFileName; }
  void Rename(const std::string &NewFileName) { FFileName = NewFileName; }
  // Whether the loaded bytes were not UTF-8 (decoded as CP932).
  bool WasLegacyEncoding() const { return FLegacyEncoding; }

  // Section and key names compare without regard to ASCII case.
  bool SectionExists(std::string_view Section) const;
  bool ValueExists(std::string_view Section, std::string_view Ident) const;

  std::string ReadString(std::string_view Section, std::string_view Ident, std::string_view Default) const;
  // Decimal (also "$" or "0x" hexadecimal) within the 32-bit range, else Default.
  int32_t ReadInteger(std::string_view Section, std::string_view Ident, int32_t Default) const;
  // Any non-zero integer is true; a value that is not an integer gives Default.
  bool ReadBool(std::string_view Section, std::string_view Ident, bool Default) const;
  // A decimal number with "." as the decimal point, else Default.
  double ReadFloat(std::string_view Section, std::string_view Ident, double Default) const;

  // Changes the first line of the key in place, or appends the key at the
  // end of its section (the section is appended when missing).
  void WriteString(std::string_view Section, std::string_view Ident, std::string_view Value);
  void WriteInteger(std::string_view Section, std::string_view Ident, int32_t Value);
  void WriteBool(std::string_view Section, std::string_view Ident, bool Value);  // 1 or 0
  void WriteFloat(std::string_view Section, std::string_view Ident, double Value);

  // Key names of a section in file order (first occurrence of each).
  std::vector<std::string> ReadSection(std::string_view Section) const;
  // "key=value" of every key line of a section in file order.
  std::vector<std::string> ReadSectionValues(std::string_view Section) const;
  std::vector<std::string> ReadSections() const;
  void EraseSection(std::string_view Section);
  // Every Read* call reports to Observer, so that the keys the readers use
  // can be listed from the readers themselves (the key reference).
  void SetReadObserver(std::function<void(const TIniKeyRead &)> Observer) { FReadObserver = std::move(Observer); }
  void DeleteKey(std::string_view Section, std::string_view Ident);

private:
  struct TLine {
    std::string Text;  // the line as it stands in the file, without its line end
    std::string Eol;   // "\r\n", "\n" or empty for a last line without one
  };
  struct TSection {
    std::string Name;          // empty for the lines before the first header
    bool HasHeader = false;
    std::vector<TLine> Lines;  // the header line first when HasHeader
  };

  const TSection *FindSection(std::string_view Section) const;
  TSection *FindSection(std::string_view Section);
  const TLine *FindKey(const TSection &S, std::string_view Ident) const;
  std::string NewLineEnd() const;

  std::string FFileName;
  std::vector<TSection> FSections;
  bool FLegacyEncoding = false;
  std::function<void(const TIniKeyRead &)> FReadObserver;
  std::string Lookup(std::string_view Section, std::string_view Ident, std::string_view Default) const;
  void Report(std::string_view Section, std::string_view Ident, char Type, std::string Default) const;
};

// The shortest decimal text of V that reads back as the same value with up to
// 15 significant digits, "." as the decimal point ("640", "0.5", "1e+20").
std::string FloatToIniText(double V);
// Parses a whole decimal number with "." as the decimal point; false when
// Text is empty, has anything else, or is not finite.
bool TryParseDecimal(std::string_view Text, double &Value);

// Splits a comma text: items are separated by commas and, outside quotes, by
// blanks (any character up to the space); an item beginning with a double
// quote runs to the closing quote, a doubled quote inside standing for one.
// With SplitAtBlanks false only commas separate, and blanks around an item
// are kept. An empty text gives no items; a trailing comma an empty item.
std::vector<std::string> SplitCommaText(std::string_view Text, bool SplitAtBlanks = true);
// Joins items with commas; with QuoteAll every item is quoted, otherwise
// only items that hold a blank, comma or quote (or are empty).
std::string JoinCommaText(const std::vector<std::string> &Items, bool QuoteAll = false);
