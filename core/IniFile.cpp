// In-memory INI file: loading with encoding detection, line-preserving
// edits, writing in UTF-8 with a byte-order mark; comma texts.
#include "core/IniFile.h"

#include "core/Errors.h"
#include "core/TempFile.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' ' && c != '\0'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = s[i];
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char d = s[i + k];
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// Converts with iconv; a byte sequence the source encoding does not have
// becomes U+FFFD, so a damaged profile still loads.
std::string ConvertToUtf8(std::string_view Bytes, const char *From) {
  iconv_t cd = iconv_open("UTF-8", From);
  if (cd == iconv_t(-1)) throw ETessivoError(std::string("文字コードを変換できません: ") + From);
  std::string out;
  std::vector<char> in(Bytes.begin(), Bytes.end());
  char *src = in.data();
  size_t srcLeft = in.size();
  char buf[4096];
  while (srcLeft > 0) {
    char *dst = buf;
    size_t dstLeft = sizeof(buf);
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, dst - buf);
    if (r == size_t(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a truncated sequence at the end): skip one byte.
      out += "\xEF\xBF\xBD";
      ++src;
      --srcLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char *dst = buf;
  size_t dstLeft = sizeof(buf);
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf, dst - buf);
  iconv_close(cd);
  return out;
}

}  // namespace

TMemIniFile::TMemIniFile(std::string FileName) : FFileName(std::move(FileName)) {
  if (FFileName.empty()) return;
  std::ifstream f(FFileName, std::ios::binary);
  if (!f) {
    struct stat st;
    if (::stat(FFileName.c_str(), &st) != 0 && errno == ENOENT) return;
    throw ETessivoError("設定ファイルを読み込めません: " + FFileName);
  }
  std::ostringstream ss;
  ss << f.rdbuf();
  if (f.bad()) throw ETessivoError("設定ファイルを読み込めません: " + FFileName);
  LoadFromBytes(ss.str());
}

void TMemIniFile::LoadFromBytes(std::string_view Bytes) {
  FSections.clear();
  FLegacyEncoding = false;
  std::string text;
  if (Bytes.substr(0, 3) == Utf8Bom) {
    text = Bytes.substr(3);
  } else if (Bytes.size() >= 2 && Bytes[0] == '\xFF' && Bytes[1] == '\xFE') {
    text = ConvertToUtf8(Bytes.substr(2), "UTF-16LE");
  } else if (Bytes.size() >= 2 && Bytes[0] == '\xFE' && Bytes[1] == '\xFF') {
    text = ConvertToUtf8(Bytes.substr(2), "UTF-16BE");
  } else if (IsValidUtf8(Bytes)) {
    text = Bytes;
  } else {
    text = ConvertToUtf8(Bytes, "CP932");
    FLegacyEncoding = true;
  }

  FSections.push_back(TSection{});
  size_t pos = 0;
  while (pos < text.size()) {
    const std::string_view rest = std::string_view(text).substr(pos);
    const size_t nl = rest.find('\n');
    std::string_view body = rest.substr(0, nl);
    pos += nl == std::string_view::npos ? rest.size() : nl + 1;
    const bool cr = !body.empty() && body.back() == '\r';
    if (cr) body.remove_suffix(1);
    TLine line{std::string(body), std::string(cr ? "\r" : "") + std::string(nl != std::string_view::npos ? "\n" : "")};
    const std::string_view t = Trim(line.Text);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      TSection s;
      s.Name = std::string(Trim(t.substr(1, t.size() - 2)));
      s.HasHeader = true;
      s.Lines.push_back(std::move(line));
      FSections.push_back(std::move(s));
    } else {
      FSections.back().Lines.push_back(std::move(line));
    }
  }
}

std::string TMemIniFile::SaveToBytes() const {
  std::string out(Utf8Bom);
  for (const TSection &s : FSections)
    for (const TLine &l : s.Lines) out += l.Text + l.Eol;
  return out;
}

void TMemIniFile::UpdateFile() const {
  if (FFileName.empty()) throw ETessivoError("設定ファイル名がありません");
  const std::string bytes = SaveToBytes();
  try {
    TOutputFile out(FFileName, {.MakeFolder = false});
    out.Write({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
    out.Commit();
  } catch (const EOutputFileError &e) {
    throw ETessivoError("設定ファイルを書き込めません: " + FFileName + ": " + std::strerror(e.SystemError));
  }
}

const TMemIniFile::TSection *TMemIniFile::FindSection(std::string_view Section) const {
  for (const TSection &s : FSections)
    if (s.HasHeader && SameText(s.Name, Section)) return &s;
  return nullptr;
}

TMemIniFile::TSection *TMemIniFile::FindSection(std::string_view Section) {
  return const_cast<TSection *>(static_cast<const TMemIniFile *>(this)->FindSection(Section));
}

namespace {

// The key of a key line, or false for headers, comments and blank lines.
bool KeyOf(std::string_view Text, std::string_view &Key, std::string_view &Value) {
  const std::string_view t = Trim(Text);
  if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return false;
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  Key = Trim(t.substr(0, eq));
  Value = Trim(t.substr(eq + 1));
  return !Key.empty();
}

}  // namespace

const TMemIniFile::TLine *TMemIniFile::FindKey(const TSection &S, std::string_view Ident) const {
  std::string_view k, v;
  for (size_t i = S.HasHeader ? 1 : 0; i < S.Lines.size(); ++i)
    if (KeyOf(S.Lines[i].Text, k, v) && SameText(k, Ident)) return &S.Lines[i];
  return nullptr;
}

bool TMemIniFile::SectionExists(std::string_view Section) const { return FindSection(Section) != nullptr; }

bool TMemIniFile::ValueExists(std::string_view Section, std::string_view Ident) const {
  const TSection *s = FindSection(Section);
  return s && FindKey(*s, Ident);
}

void TMemIniFile::Report(std::string_view Section, std::string_view Ident, char Type, std::string Default) const {
  if (FReadObserver) FReadObserver(TIniKeyRead{std::string(Section), std::string(Ident), Type, std::move(Default)});
}

std::string TMemIniFile::ReadString(std::string_view Section, std::string_view Ident,
                                    std::string_view Default) const {
  Report(Section, Ident, 'S', std::string(Default));
  return Lookup(Section, Ident, Default);
}

std::string TMemIniFile::Lookup(std::string_view Section, std::string_view Ident, std::string_view Default) const {
  const TSection *s = FindSection(Section);
  const TLine *l = s ? FindKey(*s, Ident) : nullptr;
  if (!l) return std::string(Default);
  std::string_view k, v;
  KeyOf(l->Text, k, v);
  return std::string(v);
}

namespace {

bool TryParseInt(std::string_view t, int32_t &Out) {
  bool neg = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    neg = t.front() == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (!t.empty() && t.front() == '$') {
    base = 16;
    t.remove_prefix(1);
  } else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty()) return false;
  int64_t v = 0;
  for (char c : t) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f')
      d = LowerAscii(c) - 'a' + 10;
    else
      return false;
    v = v * base + d;
    if (v > int64_t(0xFFFFFFFF)) return false;
  }
  if (neg) v = -v;
  // Hexadecimal texts name bit patterns, so "$FFFFFFFF" is -1 as on Windows.
  if (base == 16 && !neg && v > INT32_MAX) v -= int64_t(1) << 32;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  Out = int32_t(v);
  return true;
}

}  // namespace

int32_t TMemIniFile::ReadInteger(std::string_view Section, std::string_view Ident, int32_t Default) const {
  Report(Section, Ident, 'I', std::to_string(Default));
  int32_t v;
  return TryParseInt(Lookup(Section, Ident, std::string_view()), v) ? v : Default;
}

bool TMemIniFile::ReadBool(std::string_view Section, std::string_view Ident, bool Default) const {
  Report(Section, Ident, 'B', Default ? "1" : "0");
  int32_t v;
  return TryParseInt(Lookup(Section, Ident, std::string_view()), v) ? v != 0 : Default;
}

double TMemIniFile::ReadFloat(std::string_view Section, std::string_view Ident, double Default) const {
  Report(Section, Ident, 'F', FloatToIniText(Default));
  double v;
  return TryParseDecimal(Lookup(Section, Ident, std::string_view()), v) ? v : Default;
}

std::string TMemIniFile::NewLineEnd() const {
  // New lines follow the file's own convention, so a profile from Windows
  // keeps its CR LF line ends throughout.
  for (const TSection &s : FSections)
    for (const TLine &l : s.Lines)
      if (!l.Eol.empty()) return l.Eol;
  return "\n";
}

void TMemIniFile::WriteString(std::string_view Section, std::string_view Ident, std::string_view Value) {
  const std::string text = std::string(Ident) + "=" + std::string(Value);
  TSection *s = FindSection(Section);
  if (s) {
    if (const TLine *l = FindKey(*s, Ident)) {
      const_cast<TLine *>(l)->Text = text;
      return;
    }
  }
  const std::string eol = NewLineEnd();
  // The line before a new line needs an end of its own.
  for (auto it = FSections.rbegin(); it != FSections.rend(); ++it)
    if (!it->Lines.empty()) {
      if (it->Lines.back().Eol.empty()) it->Lines.back().Eol = eol;
      break;
    }
  if (!s) {
    TSection n;
    n.Name = std::string(Section);
    n.HasHeader = true;
    n.Lines.push_back({"[" + n.Name + "]", eol});
    FSections.push_back(std::move(n));
    s = &FSections.back();
  }
  // After the section's last key line, so blank lines between sections stay between them.
  size_t at = 1;
  std::string_view k, v;
  for (size_t i = 1; i < s->Lines.size(); ++i)
    if (KeyOf(s->Lines[i].Text, k, v)) at = i + 1;
  if (at == 1) {
    // No keys yet: after any comment lines directly under the header.
    while (at < s->Lines.size() && !Trim(s->Lines[at].Text).empty()) ++at;
  }
  if (at > 0 && s->Lines[at - 1].Eol.empty()) s->Lines[at - 1].Eol = eol;
  s->Lines.insert(s->Lines.begin() + at, TLine{text, eol});
}

void TMemIniFile::WriteInteger(std::string_view Section, std::string_view Ident, int32_t Value) {
  WriteString(Section, Ident, std::to_string(Value));
}

void TMemIniFile::WriteBool(std::string_view Section, std::string_view Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

void TMemIniFile::WriteFloat(std::string_view Section, std::string_view Ident, double Value) {
  WriteString(Section, Ident, FloatToIniText(Value));
}

std::vector<std::string> TMemIniFile::ReadSection(std::string_view Section) const {
  std::vector<std::string> keys;
  const TSection *s = FindSection(Section);
  if (!s) return keys;
  std::string_view k, v;
  for (size_t i = 1; i < s->Lines.size(); ++i) {
    if (!KeyOf(s->Lines[i].Text, k, v)) continue;
    bool seen = false;
    for (const std::string &e : keys) seen = seen || SameText(e, k);
    if (!seen) keys.emplace_back(k);
  }
  return keys;
}

std::vector<std::string> TMemIniFile::ReadSectionValues(std::string_view Section) const {
  std::vector<std::string> lines;
  const TSection *s = FindSection(Section);
  if (!s) return lines;
  std::string_view k, v;
  for (size_t i = 1; i < s->Lines.size(); ++i)
    if (KeyOf(s->Lines[i].Text, k, v)) lines.push_back(std::string(k) + "=" + std::string(v));
  return lines;
}

std::vector<std::string> TMemIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const TSection &s : FSections)
    if (s.HasHeader) names.push_back(s.Name);
  return names;
}

void TMemIniFile::EraseSection(std::string_view Section) {
  for (auto it = FSections.begin(); it != FSections.end();)
    if (it->HasHeader && SameText(it->Name, Section))
      it = FSections.erase(it);
    else
      ++it;
}

void TMemIniFile::DeleteKey(std::string_view Section, std::string_view Ident) {
  TSection *s = FindSection(Section);
  if (!s) return;
  std::string_view k, v;
  for (size_t i = 1; i < s->Lines.size();)
    if (KeyOf(s->Lines[i].Text, k, v) && SameText(k, Ident))
      s->Lines.erase(s->Lines.begin() + i);
    else
      ++i;
}

std::string FloatToIniText(double V) {
  // to_chars and from_chars ignore the locale, so "." stays the decimal point
  // even when the window toolkit has switched the C locale.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof(buf), V);
  int digits = 0;
  for (const char *p = buf; p < r.ptr && *p != 'e'; ++p) digits += *p >= '0' && *p <= '9';
  if (digits <= 15) return std::string(buf, r.ptr);
  const auto g = std::to_chars(buf, buf + sizeof(buf), V, std::chars_format::general, 15);
  return std::string(buf, g.ptr);
}

bool TryParseDecimal(std::string_view Text, double &Value) {
  std::string_view t = Trim(Text);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return false;
  // Only plain decimal forms: no hexadecimal floats, "inf" or "nan".
  for (char c : t)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
  double v = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v)) return false;
  Value = v;
  return true;
}

std::vector<std::string> SplitCommaText(std::string_view Text, bool SplitAtBlanks) {
  std::vector<std::string> items;
  size_t p = 0;
  const size_t n = Text.size();
  auto skipBlanks = [&] {
    if (SplitAtBlanks)
      while (p < n && IsBlank(Text[p])) ++p;
  };
  skipBlanks();
  if (p >= n) return items;
  while (true) {
    std::string item;
    if (p < n && Text[p] == '"') {
      ++p;
      while (p < n) {
        if (Text[p] == '"') {
          if (p + 1 < n && Text[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += Text[p++];
      }
      // Text after the closing quote up to the separator belongs to the item.
      while (p < n && Text[p] != ',' && !(SplitAtBlanks && IsBlank(Text[p]))) item += Text[p++];
    } else {
      while (p < n && Text[p] != ',' && !(SplitAtBlanks && IsBlank(Text[p]))) item += Text[p++];
    }
    items.push_back(std::move(item));
    skipBlanks();
    if (p >= n) break;
    if (Text[p] == ',') {
      ++p;
      skipBlanks();
      if (p >= n) {
        items.emplace_back();
        break;
      }
    }
  }
  return items;
}

std::string JoinCommaText(const std::vector<std::string> &Items, bool QuoteAll) {
  std::string out;
  for (size_t i = 0; i < Items.size(); ++i) {
    if (i) out += ',';
    const std::string &s = Items[i];
    bool quote = QuoteAll || s.empty();
    for (char c : s) quote = quote || c == ',' || c == '"' || IsBlank(c);
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}
