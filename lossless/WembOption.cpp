// Writing and reading the lossless-JPEG parameter block.
#include "lossless/WembOption.h"

#include "core/Errors.h"
#include "effects/Effect.h"

#include <cstring>
#include <filesystem>

namespace {

void WriteOptionFields(std::vector<uint8_t> &S, const TWembOption &O) {
  for (int32_t v : {O.Rotation, O.ExifOrientation, O.Grayscale, O.Trimming, O.ICCProfileRevision, O.AddText,
                    O.ExifExport, O.ICCExport, O.ExifImport, O.ICCImport, O.SegmentDeleteMode, O.OptimizeMode,
                    O.DeleteExifThumbnail, O.UpdateExifThumbnail, O.DeleteMakerNote, O.DeleteGPSInfoIFD})
    StreamWriteInt32(S, v);
}

// Reads the block front to back; every read checks that the data holds it.
class TBlockReader {
public:
  explicit TBlockReader(std::span<const uint8_t> Data) : FData(Data) {}

  void Need(size_t Bytes, const char *What) const {
    if (Bytes > FData.size() - FPos) throw ETessivoError(std::string("parameter block ends inside ") + What);
  }
  int32_t Int32(const char *What) {
    Need(4, What);
    const uint8_t *p = FData.data() + FPos;
    FPos += 4;
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
  }
  double Double(const char *What) {
    Need(8, What);
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | FData[FPos + size_t(i)];
    FPos += 8;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  // A count of UTF-16 code units and the units, as UTF-8.
  std::string String(const char *What) {
    const int32_t n = Int32(What);
    if (n < 0) throw ETessivoError(std::string("parameter block has a negative length in ") + What);
    Need(size_t(n) * 2, What);
    std::string out;
    for (size_t i = 0; i < size_t(n); ++i) {
      uint32_t c = Unit(i);
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < size_t(n) && Unit(i + 1) >= 0xDC00 && Unit(i + 1) < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (Unit(i + 1) - 0xDC00);
        ++i;
      } else if (c >= 0xD800 && c < 0xE000) {
        c = 0xFFFD;  // a lone surrogate
      }
      AppendUtf8(out, c);
    }
    FPos += size_t(n) * 2;
    return out;
  }
  void Bytes(void *To, size_t Count, const char *What) {
    Need(Count, What);
    std::memcpy(To, FData.data() + FPos, Count);
    FPos += Count;
  }

private:
  uint32_t Unit(size_t I) const { return uint32_t(FData[FPos + 2 * I]) | uint32_t(FData[FPos + 2 * I + 1]) << 8; }
  static void AppendUtf8(std::string &S, uint32_t C) {
    if (C < 0x80) {
      S.push_back(char(C));
    } else if (C < 0x800) {
      S.push_back(char(0xC0 | C >> 6));
      S.push_back(char(0x80 | (C & 0x3F)));
    } else if (C < 0x10000) {
      S.push_back(char(0xE0 | C >> 12));
      S.push_back(char(0x80 | ((C >> 6) & 0x3F)));
      S.push_back(char(0x80 | (C & 0x3F)));
    } else {
      S.push_back(char(0xF0 | C >> 18));
      S.push_back(char(0x80 | ((C >> 12) & 0x3F)));
      S.push_back(char(0x80 | ((C >> 6) & 0x3F)));
      S.push_back(char(0x80 | (C & 0x3F)));
    }
  }

  std::span<const uint8_t> FData;
  size_t FPos = 0;
};

}  // namespace

std::vector<uint8_t> WriteWembParam(const TWembOption &Option, const std::vector<TSegmentInfo> &Segments,
                                    std::span<const uint8_t> Steps) {
  std::vector<uint8_t> s;
  WriteOptionFields(s, Option);
  for (const std::string *name : {&Option.ExifExportName, &Option.ICCExportName, &Option.ExifImportName,
                                  &Option.ICCImportName})
    StreamWriteString(s, *name);
  StreamWriteInt32(s, int32_t(Segments.size()));
  for (const TSegmentInfo &seg : Segments) {
    StreamWriteInt32(s, int32_t(seg.Marker));
    StreamWriteString(s, seg.Header);
    StreamWriteInt32(s, seg.Check ? 1 : 0);
  }
  s.insert(s.end(), Steps.begin(), Steps.end());
  return s;
}

std::vector<uint8_t> WriteWembParam(const TWembOption &Option, const std::vector<TSegmentInfo> &Segments,
                                    const TEffectList &Effects) {
  std::vector<uint8_t> steps;
  Effects.WriteParamToStream(steps);
  return WriteWembParam(Option, Segments, steps);
}

TWembParam ReadWembParam(std::span<const uint8_t> Block) {
  TBlockReader r(Block);
  TWembParam p;
  TWembOption &o = p.Option;
  for (int32_t *f : {&o.Rotation, &o.ExifOrientation, &o.Grayscale, &o.Trimming, &o.ICCProfileRevision, &o.AddText,
                     &o.ExifExport, &o.ICCExport, &o.ExifImport, &o.ICCImport, &o.SegmentDeleteMode,
                     &o.OptimizeMode, &o.DeleteExifThumbnail, &o.UpdateExifThumbnail, &o.DeleteMakerNote,
                     &o.DeleteGPSInfoIFD})
    *f = r.Int32("the options");
  for (std::string *name : {&o.ExifExportName, &o.ICCExportName, &o.ExifImportName, &o.ICCImportName})
    *name = r.String("the file names");
  const int32_t segments = r.Int32("the segment list");
  if (segments < 0) throw ETessivoError("parameter block has a negative segment count");
  for (int32_t i = 0; i < segments; ++i) {
    TSegmentInfo seg;
    seg.Marker = uint16_t(r.Int32("the segment list"));
    seg.Header = r.String("the segment list");
    seg.Check = r.Int32("the segment list") ? LongTrue : LongFalse;
    p.Segments.push_back(std::move(seg));
  }
  p.TrimType = r.Int32("the trimming step");
  for (std::string &v : p.TrimValues) v = r.String("the trimming step");
  p.RGBGamma = r.Double("the colour adjustment");
  p.LumaMin = r.Int32("the colour adjustment");
  p.LumaMax = r.Int32("the colour adjustment");
  p.Hue = r.Int32("the colour adjustment");
  p.Contrast = r.Int32("the colour adjustment");
  for (TCurvePoints &curve : p.CurvePoints) {
    const int32_t n = r.Int32("the tone curve");
    if (n < 0) throw ETessivoError("parameter block has a negative point count");
    r.Need(size_t(n) * 8, "the tone curve");
    curve.resize(size_t(n));
    for (TCurvePoint &pt : curve) {
      pt.X = r.Int32("the tone curve");
      pt.Y = r.Int32("the tone curve");
    }
  }
  uint8_t raw[sizeof(TAddTextParam)];
  r.Bytes(raw, sizeof raw, "the text step");
  std::memcpy(&p.TextParam, raw, sizeof raw);  // little-endian fields with the fixed layout
  p.Text = r.String("the text step");
  p.Font.Name = r.String("the text step");
  p.Font.Charset = uint8_t(r.Int32("the text step"));
  p.Font.Size = r.Int32("the text step");
  p.Font.Color = uint32_t(r.Int32("the text step"));
  p.Font.Style = r.Int32("the text step");
  return p;
}

std::string ExpandWembName(const std::string &Pattern, const std::string &InputFile) {
  const std::filesystem::path input(InputFile);
  const std::string stem = input.stem().string();
  std::string out;
  for (size_t i = 0; i < Pattern.size();) {
    if (Pattern.size() - i >= 6 && Pattern[i] == '<') {
      std::string tag = Pattern.substr(i, 6);
      for (char &c : tag) c = char(std::tolower(static_cast<unsigned char>(c)));
      if (tag == "<name>") {
        out += stem;
        i += 6;
        continue;
      }
    }
    out.push_back(Pattern[i] == '\\' ? '/' : Pattern[i]);
    ++i;
  }
  if (!out.empty() && out[0] == '/') return out;
  return (input.parent_path() / out).string();
}
