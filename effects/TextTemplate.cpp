// The overlay-text template, the start-number directive and the date parts
// both template languages share.
#include "effects/TextTemplate.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

int32_t NextSerialNumber = 1;

namespace {

void ReplaceAll(std::string &S, const std::string &From, const std::string &To) {
  for (size_t pos = 0; (pos = S.find(From, pos)) != std::string::npos; pos += To.size())
    S.replace(pos, From.size(), To);
}

std::string Two(int32_t V) { return PaddedNumber(V, 2); }
std::string Four(int32_t V) { return PaddedNumber(V, 4); }

}  // namespace

// Decimal digits of N, zero-padded to Width digits ("-005" for -5 and 3).
std::string PaddedNumber(int64_t N, int Width) {
  char buf[96];  // a sign, up to 20 digits, padding to at most 9
  std::snprintf(buf, sizeof buf, "%.*lld", Width, static_cast<long long>(N));
  return buf;
}


bool AppendDateField(const std::string &Token, const TDateTimeParts &D, std::string &R) {
  if (Token == "yyyy") R += Four(D.Year);
  else if (Token == "yy") R += Two(D.Year % 100);
  else if (Token == "mm") R += Two(D.Month);
  else if (Token == "dd") R += Two(D.Day);
  else if (Token == "hh") R += Two(D.Hour);
  else if (Token == "nn") R += Two(D.Minute);
  else if (Token == "ss") R += Two(D.Second);
  else return false;
  return true;
}

std::string NameWithoutExtension(const std::string &Name) {
  const size_t dot = Name.find_last_of('.');
  return dot == std::string::npos ? Name : Name.substr(0, dot);
}

TDateTimeParts DecodeDateTime(double DateTime) {
  TDateTimeParts p;
  if (!std::isfinite(DateTime) || std::fabs(DateTime) > 3.0e6) return p;  // beyond year 9999
  const int64_t ms = std::llround(DateTime * 86400000.0);
  int64_t days = ms / 86400000;
  int64_t rest = ms % 86400000;
  if (rest < 0) rest += 86400000, --days;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  p.Year = int32_t(yoe + era * 400 + (m <= 2 ? 1 : 0));
  p.Month = int32_t(m);
  p.Day = int32_t(d);
  rest /= 1000;
  p.Hour = int32_t(rest / 3600);
  p.Minute = int32_t(rest / 60 % 60);
  p.Second = int32_t(rest % 60);
  return p;
}

int32_t ParseStartNumber(std::string &Template, const TFileOption &File) {
  ReplaceAll(Template, "<ss>", "<SS>");
  int32_t result = File.ResetType == 0 ? File.StartNumber : NextSerialNumber;
  for (size_t pos; (pos = Template.find("<s")) != std::string::npos;) {
    const size_t close = Template.find('>', pos + 2);
    const std::string digits = Template.substr(pos + 2, close == std::string::npos ? std::string::npos : close - pos - 2);
    char *end = nullptr;
    errno = 0;
    const long long v = digits.empty() ? 0 : std::strtoll(digits.c_str(), &end, 10);
    const bool parsed = !digits.empty() && end && *end == '\0' && errno == 0 && v >= INT32_MIN && v <= INT32_MAX &&
                        !std::isspace(static_cast<unsigned char>(digits[0]));
    result = parsed ? int32_t(v) : 1;
    Template.erase(pos, close == std::string::npos ? std::string::npos : close - pos + 1);
  }
  ReplaceAll(Template, "<SS>", "<ss>");
  return result;
}

std::string ExpandTextTemplate(const std::string &T, const std::string &NewName, const std::string &OldName,
                               int32_t Number, double Time) {
  const TDateTimeParts d = DecodeDateTime(Time);
  const std::string ymd = Four(d.Year) + "/" + Two(d.Month) + "/" + Two(d.Day);
  std::string R;
  for (size_t i = 0; i < T.size(); ++i) {
    if (T[i] != '<') {
      R += T[i];
      continue;
    }
    const size_t close = T.find('>', i + 1);
    if (close == std::string::npos) break;  // unterminated: nothing more to expand
    const std::string token = T.substr(i + 1, close - i - 1);
    i = close;
    if (token.empty()) continue;
    if (token == "old") R += OldName;
    else if (token == "oldname") R += NameWithoutExtension(OldName);
    else if (token == "new") R += NewName;
    else if (token == "newname") R += NameWithoutExtension(NewName);
    else if (token == "ymd") R += ymd;
    else if (token == "ymdhn") R += ymd + " " + Two(d.Hour) + ":" + Two(d.Minute);
    else if (token == "ymdhns") R += ymd + " " + Two(d.Hour) + ":" + Two(d.Minute) + ":" + Two(d.Second);
    else if (AppendDateField(token, d, R)) continue;
    else if (token == "n") R += std::to_string(Number);
    else if (token[0] == 'n' && token.size() >= 2 && token[1] >= '1' && token[1] <= '9') R += PaddedNumber(Number, token[1] - '0');
    else R += token;
  }
  return R;
}
