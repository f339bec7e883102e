// Reading the reprojection tool's script.
#include "tools/dedistortion/LensScript.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace {

struct TToken {
  char Key;
  std::string Value;
  bool Quoted;
};

[[noreturn]] void Fail(int32_t Line, const std::string &What) {
  throw ELensScriptError("script line " + std::to_string(Line) + ": " + What);
}

// Splits the tokens after the line's letter: a key letter followed by a
// number or a double-quoted text.
std::vector<TToken> Tokens(std::string_view Rest, int32_t Line) {
  std::vector<TToken> out;
  size_t i = 0;
  while (i < Rest.size()) {
    if (Rest[i] == ' ' || Rest[i] == '\t') {
      ++i;
      continue;
    }
    TToken t{Rest[i++], {}, false};
    if (i < Rest.size() && Rest[i] == '"') {
      const size_t end = Rest.find('"', i + 1);
      if (end == std::string_view::npos) Fail(Line, std::string("unterminated text after \"") + t.Key + "\"");
      t.Value = std::string(Rest.substr(i + 1, end - i - 1));
      t.Quoted = true;
      i = end + 1;
    } else {
      const size_t end = Rest.find_first_of(" \t", i);
      t.Value = std::string(Rest.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
      i = end == std::string_view::npos ? Rest.size() : end;
    }
    out.push_back(std::move(t));
  }
  return out;
}

double Number(const TToken &T, int32_t Line) {
  double v = 0;
  const char *first = T.Value.data(), *last = first + T.Value.size();
  const auto r = std::from_chars(first, last, v);
  if (T.Quoted || T.Value.empty() || r.ec != std::errc() || r.ptr != last || !std::isfinite(v))
    Fail(Line, std::string("\"") + T.Key + T.Value + "\" is not a number");
  return v;
}

int32_t Whole(const TToken &T, int32_t Line) {
  const double v = Number(T, Line);
  if (v != std::floor(v) || std::fabs(v) > 1e9) Fail(Line, std::string("\"") + T.Key + T.Value + "\" is not a whole number");
  return int32_t(v);
}

[[noreturn]] void Unknown(const TToken &T, char LineKey, int32_t Line) {
  Fail(Line, std::string("\"") + T.Key + (T.Quoted ? "\"" + T.Value + "\"" : T.Value) + "\" is not read on an \"" +
                 LineKey + "\" line");
}

}  // namespace

TLensScript ParseLensScript(std::string_view Text) {
  TLensScript s;
  bool haveO = false, haveP = false;
  int32_t lineNo = 0;
  size_t pos = 0;
  while (pos <= Text.size()) {
    size_t end = Text.find('\n', pos);
    if (end == std::string_view::npos) end = Text.size();
    std::string_view line = Text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos || line[0] == '#') continue;
    const char key = line[0];
    if (line.size() > 1 && line[1] != ' ' && line[1] != '\t') Fail(lineNo, "unknown line \"" + std::string(line) + "\"");
    const std::vector<TToken> tokens = Tokens(line.substr(1), lineNo);
    if (key == 'o') {
      if (haveO) Fail(lineNo, "a second \"o\" line: the tool reprojects one image");
      haveO = true;
      for (const TToken &t : tokens) switch (t.Key) {
          case 'y': s.Yaw = Number(t, lineNo); break;
          case 'p': s.Pitch = Number(t, lineNo); break;
          case 'r': s.Roll = Number(t, lineNo); break;
          case 'f': s.LensCode = Whole(t, lineNo); break;
          case 'v': s.LensHFOV = Number(t, lineNo); break;
          case 'n':
            if (!t.Quoted) Unknown(t, key, lineNo);
            s.SourceName = t.Value;
            break;
          default: Unknown(t, key, lineNo);
        }
      if (s.LensCode != LENS_FISHEYE_CIRCULAR && s.LensCode != LENS_FISHEYE_FULL_FRAME &&
          s.LensCode != LENS_FISHEYE_ORTHOGRAPHIC && s.LensCode != LENS_FISHEYE_EQUISOLID)
        Fail(lineNo, "lens code f" + std::to_string(s.LensCode) + " is not read (2, 3, 8 and 21 are)");
      if (!(s.LensHFOV > 0 && s.LensHFOV <= 360)) Fail(lineNo, "the source angle v must lie above 0 and up to 360");
    } else if (key == 'p') {
      if (haveP) Fail(lineNo, "a second \"p\" line");
      haveP = true;
      bool panini = false;
      for (const TToken &t : tokens) switch (t.Key) {
          case 'w': s.Width = Whole(t, lineNo); break;
          case 'h': s.Height = Whole(t, lineNo); break;
          case 'f': s.PanoCode = Whole(t, lineNo); break;
          case 'v': s.PanoHFOV = Number(t, lineNo); break;
          case 'n':
            if (!t.Quoted) Unknown(t, key, lineNo);
            if (!t.Value.starts_with("TIFF")) Fail(lineNo, "the result is a TIFF file, not \"" + t.Value + "\"");
            break;
          case 'P':
            // The general Panini's compression, tops and bottoms: only the
            // plain cylindrical-stereographic form is drawn.
            if (!t.Quoted || t.Value != "100 0 0") Fail(lineNo, "the Panini parameters must be P\"100 0 0\"");
            panini = true;
            break;
          default: Unknown(t, key, lineNo);
        }
      if (s.PanoCode != PANO_RECTILINEAR && s.PanoCode != PANO_CYLINDRICAL && s.PanoCode != PANO_EQUIRECTANGULAR &&
          s.PanoCode != PANO_FISHEYE_EQUIDISTANT && s.PanoCode != PANO_FISHEYE_EQUISOLID &&
          s.PanoCode != PANO_PANINI_GENERAL)
        Fail(lineNo, "projection code f" + std::to_string(s.PanoCode) + " is not drawn (0, 1, 2, 3, 15 and 19 are)");
      if (s.PanoCode == PANO_PANINI_GENERAL && !panini) Fail(lineNo, "the Panini projection needs P\"100 0 0\"");
      if (s.Width < 1 || s.Height < 1 || s.Width > 65535 || s.Height > 65535)
        Fail(lineNo, "the result size w, h must lie between 1 and 65535");
      if (!(s.PanoHFOV > 0 && s.PanoHFOV <= 360)) Fail(lineNo, "the result angle v must lie above 0 and up to 360");
      if (s.PanoCode == PANO_RECTILINEAR && s.PanoHFOV >= 180) Fail(lineNo, "a rectilinear result needs an angle below 180");
    } else if (key == 'm') {
      for (const TToken &t : tokens)
        if (t.Key != 'i' || Whole(t, lineNo) != 1) Fail(lineNo, "only the interpolator i1 is read on the \"m\" line");
    } else {
      Fail(lineNo, std::string("unknown line \"") + std::string(line) + "\"");
    }
  }
  if (!haveO) throw ELensScriptError("the script has no \"o\" line");
  if (!haveP) throw ELensScriptError("the script has no \"p\" line");
  return s;
}
