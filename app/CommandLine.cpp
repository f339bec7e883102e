// Parsing the command line of an unattended run.
#include "app/CommandLine.h"

#include "core/AsciiCase.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <fstream>
#include <iterator>

namespace {

// Whether Arg begins with Prefix, ASCII case ignored.
bool StartsWithNoCase(const std::string &Arg, const std::string &Prefix) {
  return Arg.size() >= Prefix.size() && SameTextAscii(std::string_view(Arg).substr(0, Prefix.size()), Prefix);
}

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

TCommandLine ParseCommandLine(const std::vector<std::string> &Args, const std::string &Cwd) {
  TCommandLine C;
  for (const auto &Arg : Args) {
    std::string Value;
    if (TakeSwitch(Arg, "ini", Value)) {
      C.HasIni = true;
      C.Ini = Value;
      if (Value.empty() && C.Error.empty()) C.Error = "/ini= needs a settings file name";
    } else if (TakeSwitch(Arg, "list", Value)) {
      C.HasList = true;
      C.ListFile = Value.empty() ? Value : AbsolutePath(Value, Cwd);
      if (Value.empty() && C.Error.empty()) C.Error = "/list= needs a file name";
    } else if (Arg == "--help" || Arg == "-h" || Arg == "/?" || Arg == "-?") {
      C.Help = true;
    } else if (Arg == "--version") {
      C.Version = true;
    } else if (Arg.empty()) {
      continue;
    } else if (Arg.front() == '-' && Arg != "-") {
      if (C.Error.empty()) C.Error = "unknown option '" + Arg + "'";
    } else {
      C.Paths.push_back(AbsolutePath(Arg, Cwd));
    }
  }
  return C;
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
