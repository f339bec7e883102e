// Parsing the command line of an unattended run.
#include "app/CommandLine.h"

#include "core/AsciiCase.h"
#include "core/IniFile.h"
#include "app/ProfileKeys.h"
#include "batch/ConvertOption.h"
#include "batch/SizeRule.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <iterator>

namespace {

// Whether Arg begins with Prefix, ASCII case ignored.
bool StartsWithNoCase(const std::string &Arg, const std::string &Prefix) {
  return Arg.size() >= Prefix.size() && SameTextAscii(std::string_view(Arg).substr(0, Prefix.size()), Prefix);
}


void AppendUtf8(std::string &Out, uint32_t c) {
  if (c < 0x80) {
    Out += char(c);
  } else if (c < 0x800) {
    Out += char(0xC0 | (c >> 6));
    Out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    Out += char(0xE0 | (c >> 12));
    Out += char(0x80 | ((c >> 6) & 0x3F));
    Out += char(0x80 | (c & 0x3F));
  } else {
    Out += char(0xF0 | (c >> 18));
    Out += char(0x80 | ((c >> 12) & 0x3F));
    Out += char(0x80 | ((c >> 6) & 0x3F));
    Out += char(0x80 | (c & 0x3F));
  }
}

std::string Utf16ToUtf8(const std::string &Bytes, bool BigEndian) {
  std::string Out;
  for (size_t i = 0; i + 1 < Bytes.size(); i += 2) {
    const auto b0 = uint8_t(Bytes[i]), b1 = uint8_t(Bytes[i + 1]);
    uint32_t c = BigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < Bytes.size()) {
      const auto c0 = uint8_t(Bytes[i + 2]), c1 = uint8_t(Bytes[i + 3]);
      const uint32_t lo = BigEndian ? (c0 << 8 | c1) : (c1 << 8 | c0);
      if (lo >= 0xDC00 && lo < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(Out, c);
  }
  return Out;
}

}  // namespace

std::string AbsolutePath(const std::string &Path, const std::string &Cwd) {
  const std::string Full = !Path.empty() && Path.front() == '/' ? Path : Cwd + "/" + Path;
  std::vector<std::string> Parts;
  size_t i = 0;
  while (i <= Full.size()) {
    const size_t j = Full.find('/', i);
    const std::string Part = Full.substr(i, j == std::string::npos ? std::string::npos : j - i);
    if (Part == "..") {
      if (!Parts.empty()) Parts.pop_back();
    } else if (!Part.empty() && Part != ".") {
      Parts.push_back(Part);
    }
    if (j == std::string::npos) break;
    i = j + 1;
  }
  std::string Result;
  for (const auto &P : Parts) Result += "/" + P;
  return Result.empty() ? "/" : Result;
}

namespace {

// "/name=" with a name of letters only: a switch, not a path.
bool LooksLikeSlashSwitch(const std::string &Arg) {
  if (Arg.size() < 3 || Arg[0] != '/') return false;
  size_t i = 1;
  while (i < Arg.size() && std::isalpha((unsigned char)Arg[i])) ++i;
  return i > 1 && i < Arg.size() && Arg[i] == '=';
}

bool ParseNumber(const std::string &Text, double &V) {
  if (Text.empty()) return false;
  char *End = nullptr;
  V = std::strtod(Text.c_str(), &End);
  return End && *End == 0 && std::isfinite(V);
}

// Sizes are refused outside what an image can be: 1 to 65535 pixels, a
// percentage above 0 and up to 10000.
constexpr double MaxSide = 65535;
constexpr double MaxPercent = 10000;

std::string ParseSize(const std::string &Text, TSizeOverride &Size) {
  const std::string Bad = "--size " + Text + ": ";
  std::string T = AsciiLower(Text);
  if (!T.empty() && T.back() == '%') {
    double V;
    if (!ParseNumber(T.substr(0, T.size() - 1), V) || V <= 0 || V > MaxPercent)
      return Bad + "a percentage must be above 0 and at most 10000";
    Size = {0, V, V};
    return "";
  }
  const size_t x = T.find('x');
  if (x == std::string::npos) {
    double V;
    if (!ParseNumber(T, V) || V < 1 || V > MaxSide)
      return Bad + "expected \"50%\", a long side of 1 to 65535 pixels, or WxH[:fit|:cover|:exact]";
    Size = {1, V, V};
    return "";
  }
  int32_t Rule = 10;
  const size_t colon = T.find_first_of(":,");
  if (colon != std::string::npos) {
    const std::string Mode = T.substr(colon + 1);
    if (Mode == "fit") Rule = 10;
    else if (Mode == "cover") Rule = 11;
    else if (Mode == "exact") Rule = 8;
    else return Bad + "the box mode must be fit, cover or exact";
    T.resize(colon);
  }
  double W, H;
  if (!ParseNumber(T.substr(0, x), W) || !ParseNumber(T.substr(x + 1), H) || W < 1 || H < 1 || W > MaxSide ||
      H > MaxSide)
    return Bad + "width and height must be from 1 to 65535 pixels";
  Size = {Rule, W, H};
  return "";
}

// The options that take a value.
bool TakesValue(const std::string &Name) {
  for (const char *N : {"--size", "--quality", "--format", "--out", "--template", "--workers", "--set", "--shard",
                        "--progress"})
    if (Name == N) return true;
  return false;
}

}  // namespace

bool TakeSwitch(const std::string &Arg, const char *Name, std::string &Value) {
  for (const std::string &Prefix : {std::string("/") + Name + "=", std::string("--") + Name + "="}) {
    if (StartsWithNoCase(Arg, Prefix)) {
      Value = Arg.substr(Prefix.size());
      // Quotes around the value (from a launcher that quoted the whole argument) go.
      if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"') Value = Value.substr(1, Value.size() - 2);
      return true;
    }
  }
  return false;
}

TCommandLine ParseCommandLine(const std::vector<std::string> &Args, const std::string &Cwd) {
  TCommandLine C;
  auto Error = [&C](const std::string &Text) {
    if (C.Error.empty()) C.Error = Text;
  };
  auto Set = [&C](const std::string &Option, const char *Section, const char *Key, const std::string &Value) {
    C.Settings.push_back({Option, Section, Key, Value});
  };
  bool OptionsEnded = false;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string &Arg = Args[i];
    std::string Value;
    if (OptionsEnded) {
      if (!Arg.empty()) C.Paths.push_back(AbsolutePath(Arg, Cwd));
      continue;
    }
    if (TakeSwitch(Arg, "ini", Value)) {
      C.HasIni = true;
      C.Ini = Value;
      if (Value.empty()) Error("/ini= needs a settings file name");
      continue;
    }
    if (TakeSwitch(Arg, "list", Value)) {
      C.HasList = true;
      C.ListFile = Value.empty() ? Value : AbsolutePath(Value, Cwd);
      if (Value.empty()) Error("/list= needs a file name");
      continue;
    }
    if (Arg == "--help" || Arg == "-h" || Arg == "/?" || Arg == "-?") {
      C.Help = true;
      continue;
    }
    if (Arg.empty()) continue;
    if (Arg == "--") {
      OptionsEnded = true;
      continue;
    }
    if (LooksLikeSlashSwitch(Arg)) {
      Error("unknown switch '" + Arg.substr(0, Arg.find('=') + 1) + "'");
      continue;
    }
    if (Arg.front() != '-' || Arg == "-") {
      C.Paths.push_back(AbsolutePath(Arg, Cwd));
      continue;
    }
    // A long option, its value after "=" or in the next argument.
    std::string Name = Arg;
    bool HasValue = false;
    if (const size_t eq = Arg.find('='); eq != std::string::npos && Arg.rfind("--", 0) == 0) {
      Name = Arg.substr(0, eq);
      Value = Arg.substr(eq + 1);
      HasValue = true;
    }
    if (TakesValue(Name) && !HasValue) {
      if (i + 1 >= Args.size()) {
        Error(Name + " needs a value");
        continue;
      }
      Value = Args[++i];
    } else if (!TakesValue(Name) && HasValue) {
      Error("unknown option '" + Arg + "'");
      continue;
    }
    const std::string Given = Name + " " + Value;
    if (Name == "--version") {
      C.Version = true;
    } else if (Name == "--size") {
      if (const std::string E = ParseSize(Value, C.Size); !E.empty()) Error(E);
    } else if (Name == "--no-enlarge") {
      Set(Name, "Resize", "NoExpand", "1");
    } else if (Name == "--quality") {
      Set(Given, "JPEG", "Quality", Value);
    } else if (Name == "--format") {
      const std::string F = AsciiLower(Value);
      const char *Ext = F == "jpg" || F == "jpeg" ? ".jpg"
                        : F == "png"              ? ".png"
                        : F == "bmp"              ? ".bmp"
                        : F == "tif" || F == "tiff" ? ".tif"
                        : F == "jxr" || F == "wdp" ? ".wdp"
                                                   : nullptr;
      if (!Ext) Error("--format " + Value + ": expected jpg, png, bmp, tif or jxr");
      else Set(Given, "Convert", "未定義", Ext);
    } else if (Name == "--out") {
      if (Value.empty()) Error("--out needs a folder");
      C.OutFolder = AbsolutePath(Value, Cwd);
    } else if (Name == "--template") {
      if (Value.empty()) Error("--template needs a file-name template");
      C.HasTemplate = true;
      C.Template = Value;
    } else if (Name == "--keep-metadata") {
      Set(Name, "JPEG", "AddExifInfo", "1");
      Set(Name, "Metadata", "KeepICCProfile", "1");
      Set(Name, "Metadata", "KeepResolution", "1");
    } else if (Name == "--strip-metadata") {
      // The orientation goes into the pixels before the Exif data goes, so
      // the picture stays upright.
      Set(Name, "ExifRotationFilter", "Use", "1");
      Set(Name, "JPEG", "AddExifInfo", "0");
      Set(Name, "Metadata", "AlwaysCopyMakerNote", "0");
      Set(Name, "Metadata", "KeepAllExtraMarker", "0");
    } else if (Name == "--overwrite") {
      Set(Name, "File", "NotOverwrite", "0");
    } else if (Name == "--skip-existing") {
      Set(Name, "File", "NotOverwrite", "1");
      Set(Name, "File", "Skip", "1");
    } else if (Name == "--number-existing") {
      Set(Name, "File", "NotOverwrite", "1");
      Set(Name, "File", "Skip", "0");
    } else if (Name == "--workers") {
      double N;
      if (!ParseNumber(Value, N) || N != std::floor(N) || N < 1 || N > 1024) {
        Error("--workers " + Value + ": System.MaxThread must be an integer from 1 to 1024");
      } else {
        Set(Given, "System", "MaxThread", Value);
        Set(Given, "System", "Parallel", N > 1 ? "1" : "0");
      }
    } else if (Name == "--set") {
      const size_t Dot = Value.find('.');
      const size_t Eq = Value.find('=');
      if (Dot == std::string::npos || Eq == std::string::npos || Dot == 0 || Dot + 1 >= Eq) {
        Error("--set " + Value + ": expected Section.Key=Value");
      } else {
        C.Settings.push_back({Given, Value.substr(0, Dot), Value.substr(Dot + 1, Eq - Dot - 1), Value.substr(Eq + 1)});
      }
    } else if (Name == "--print-profile") {
      C.PrintProfile = true;
    } else if (Name == "--dry-run") {
      C.DryRun = true;
    } else if (Name == "--strict") {
      C.Strict = true;
    } else if (Name == "--profile-keys") {
      C.ProfileKeys = true;
    } else if (Name == "--progress") {
      if (AsciiLower(Value) != "json") Error("--progress " + Value + ": only --progress=json is known");
      C.ProgressJson = true;
    } else if (Name == "--shard") {
      const size_t Slash = Value.find('/');
      double K = -1, N = 0;
      if (Slash == std::string::npos || !ParseNumber(Value.substr(0, Slash), K) ||
          !ParseNumber(Value.substr(Slash + 1), N) || K != std::floor(K) || N != std::floor(N) || N < 1 ||
          N > 100000 || K < 0 || K >= N) {
        Error("--shard " + Value + ": expected K/N with N from 1 to 100000 and K from 0 to N-1");
      } else {
        C.ShardIndex = int32_t(K);
        C.ShardCount = int32_t(N);
      }
    } else {
      Error("unknown option '" + Arg + "'");
    }
  }
  return C;
}

std::string ApplyCommandLineSettings(const TCommandLine &Cmd, TMemIniFile &Ini, const std::vector<TProfileKey> &Keys) {
  for (const TCommandLineSetting &S : Cmd.Settings) {
    if (S.Section == "Convert") {
      // One row for every extension: the format the outputs are written in.
      Ini.EraseSection("Convert");
      Ini.WriteString("Convert", S.Key, S.Value);
      continue;
    }
    const TProfileKey *K = FindProfileKey(Keys, S.Section, S.Key);
    if (!K) return S.Option + ": " + S.Section + "." + S.Key + " is not a settings key (see docs/profile-keys.md)";
    if (const std::string E = CheckProfileValue(*K, S.Value); !E.empty()) return S.Option + ": " + E;
    Ini.WriteString(K->Section, K->Key, S.Value);
  }
  if (Cmd.Size.Rule >= 0) {
    TResizeOption Option;
    ParseSizeList(Ini.ReadString("Resize", "Size1", DefaultSizeList(false)), Option.Size1, false);
    ParseSizeList(Ini.ReadString("Resize", "Size2", DefaultSizeList(true)), Option.Size2, true);
    Option.Size1[size_t(Cmd.Size.Rule)] = Cmd.Size.Value1;
    Option.Size2[size_t(Cmd.Size.Rule)] = Cmd.Size.Value2;
    Ini.WriteInteger("Resize", "Rule", Cmd.Size.Rule);
    Ini.WriteString("Resize", "Size1", FormatSizeList(Option.Size1));
    Ini.WriteString("Resize", "Size2", FormatSizeList(Option.Size2));
  }
  if (!Cmd.OutFolder.empty() || Cmd.HasTemplate) {
    std::string Name = Cmd.Template;
    if (!Cmd.HasTemplate) {
      // The output folder takes the profile template's file-name part.
      const std::string Stored = NormalizeStoredPath(Ini.ReadString("File", "FileNameFormat", "resize/<old>"));
      const size_t Slash = Stored.find_last_of('/');
      Name = Slash == std::string::npos ? Stored : Stored.substr(Slash + 1);
      if (Name.empty()) Name = "<old>";
    }
    const std::string Template = Cmd.OutFolder.empty() ? Name : IncludeTrailingDelimiter(Cmd.OutFolder) + Name;
    Ini.WriteString("File", "FileNameFormat", Template);
    if (!IsAbsoluteTemplate(NormalizeStoredPath(Template))) Ini.WriteBool("File", "SameDirectory", true);
  }
  return "";
}

bool ReadListFile(const std::string &Path, const std::string &Cwd, std::vector<std::string> &Lines) {
  // Read with the system calls: a folder opens as a stream but fails on the
  // first read, and errno must tell the caller why.
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return false;
  std::string Bytes;
  char Buf[65536];
  for (;;) {
    const ssize_t n = ::read(Fd, Buf, sizeof Buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int Err = errno;
      ::close(Fd);
      errno = Err;
      return false;
    }
    if (n == 0) break;
    Bytes.append(Buf, size_t(n));
  }
  ::close(Fd);
  std::string Text;
  if (Bytes.size() >= 2 && uint8_t(Bytes[0]) == 0xFF && uint8_t(Bytes[1]) == 0xFE) {
    Text = Utf16ToUtf8(Bytes.substr(2), false);
  } else if (Bytes.size() >= 2 && uint8_t(Bytes[0]) == 0xFE && uint8_t(Bytes[1]) == 0xFF) {
    Text = Utf16ToUtf8(Bytes.substr(2), true);
  } else if (Bytes.size() >= 3 && Bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    Text = Bytes.substr(3);
  } else {
    Text = Bytes;
  }
  size_t i = 0;
  while (i < Text.size()) {
    size_t j = Text.find('\n', i);
    if (j == std::string::npos) j = Text.size();
    std::string Line = Text.substr(i, j - i);
    while (!Line.empty() && (Line.back() == '\r' || Line.back() == ' ' || Line.back() == '\t')) Line.pop_back();
    if (!Line.empty()) Lines.push_back(AbsolutePath(Line, Cwd));
    i = j + 1;
  }
  return true;
}
