// create_exif: the Exif of a non-JPEG source in the form the program carries
// Exif in, a small JPEG whose APP1 holds it. The Exif block of a PNG (eXIf),
// WebP or HEIF file is carried as it is; the Exif of a TIFF or JPEG XR file,
// whose IFD0 also describes the file's pixels, is rebuilt as a compact TIFF
// structure: IFD0 without those tags, the Exif IFD and the GPS IFD, in the
// source's byte order.
#include "pixio/WriteInternal.h"

#include "pixio/ExifTiff.h"

#include <libheif/heif.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

using namespace pixio;

namespace {

// Largest TIFF structure an APP1 segment holds with "Exif\0\0" in front.
constexpr size_t MaxTiffSize = 0xFFF7;
constexpr uint16_t TagExifIfd = 0x8769, TagGpsIfd = 0x8825, TagSoftware = 0x0131;

uint32_t BE32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void Put16(std::vector<uint8_t> &V, size_t At, uint16_t X, bool BE) {
  V[At] = uint8_t(BE ? X >> 8 : X), V[At + 1] = uint8_t(BE ? X : X >> 8);
}
void Put32(std::vector<uint8_t> &V, size_t At, uint32_t X, bool BE) {
  for (int i = 0; i < 4; ++i) V[At + size_t(i)] = uint8_t(BE ? X >> (24 - 8 * i) : X >> (8 * i));
}

std::span<const uint8_t> SkipExifPrefix(std::span<const uint8_t> D) {
  if (D.size() >= 6 && std::memcmp(D.data(), "Exif\0\0", 6) == 0) return D.subspan(6);
  return D;
}

// The eXIf chunk of a PNG.
std::span<const uint8_t> PngExif(std::span<const uint8_t> D) {
  size_t pos = 8;
  while (pos + 12 <= D.size()) {
    const uint32_t len = BE32(D.data() + pos);
    if (len > D.size() - pos - 12) break;
    const uint8_t *type = D.data() + pos + 4;
    if (std::memcmp(type, "eXIf", 4) == 0) return SkipExifPrefix(D.subspan(pos + 8, len));
    if (std::memcmp(type, "IEND", 4) == 0) break;
    pos += size_t(len) + 12;
  }
  return {};
}

std::vector<uint8_t> WebPExif(std::span<const uint8_t> D) {
  const WebPData whole{D.data(), D.size()};
  std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer *)> demux(WebPDemux(&whole), WebPDemuxDelete);
  WebPChunkIterator it;
  std::vector<uint8_t> r;
  if (demux && WebPDemuxGetChunk(demux.get(), "EXIF", 1, &it)) {
    const auto body = SkipExifPrefix({it.chunk.bytes, it.chunk.size});
    r.assign(body.begin(), body.end());
    WebPDemuxReleaseChunkIterator(&it);
  }
  return r;
}

std::vector<uint8_t> HeifExif(std::span<const uint8_t> D) {
  std::unique_ptr<heif_context, void (*)(heif_context *)> ctx(heif_context_alloc(), heif_context_free);
  if (!ctx || heif_context_read_from_memory_without_copy(ctx.get(), D.data(), D.size(), nullptr).code != heif_error_Ok)
    return {};
  heif_image_handle *raw = nullptr;
  if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok) return {};
  std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle *)> h(raw, heif_image_handle_release);
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(h.get(), "Exif", &id, 1) != 1) return {};
  const size_t n = heif_image_handle_get_metadata_size(h.get(), id);
  if (n <= 4 || n > (16u << 20)) return {};
  std::vector<uint8_t> buf(n);
  if (heif_image_handle_get_metadata(h.get(), id, buf.data()).code != heif_error_Ok) return {};
  const uint32_t off = BE32(buf.data());  // offset of the TIFF header after this field
  if (off > n - 4) return {};
  return std::vector<uint8_t>(buf.begin() + 4 + ptrdiff_t(off), buf.end());
}

// The TIFF structure that holds the source's Exif; Own keeps bytes that had to be copied.
std::span<const uint8_t> SourceExif(std::span<const uint8_t> D, std::vector<uint8_t> &Own) {
  switch (DetectWicFormat(D)) {
    case WicFormat::Tiff: return D;  // its IFD0 is the Exif IFD0, next to the image tags
    case WicFormat::Jxr:
      // The container is a little-endian IFD like TIFF's, with its own magic number.
      Own.assign(D.begin(), D.end());
      if (Own.size() >= 4) Own[2] = 42, Own[3] = 0;
      return Own;
    case WicFormat::Png: return PngExif(D);
    case WicFormat::WebP: Own = WebPExif(D); return Own;
    case WicFormat::Heif: Own = HeifExif(D); return Own;
    case WicFormat::Jpeg: Own = JpegExifTiff(D); return Own;
    default: return {};
  }
}

// Appends an IFD and its values to Out (on a word boundary); returns its
// offset and, in Slots, where the value of each pointer entry is to go.
size_t AppendIfd(std::vector<uint8_t> &Out, bool BE, std::vector<ExifEntry> Entries,
                 const std::vector<uint16_t> &Pointers, std::map<uint16_t, size_t> &Slots) {
  for (uint16_t tag : Pointers) Entries.push_back(ExifEntry{tag, 4, 1, std::vector<uint8_t>(4, 0)});
  std::stable_sort(Entries.begin(), Entries.end(),
                   [](const ExifEntry &a, const ExifEntry &b) { return a.Tag < b.Tag; });
  if (Out.size() & 1) Out.push_back(0);
  const size_t at = Out.size();
  Out.resize(at + 2 + Entries.size() * 12 + 4, 0);
  Put16(Out, at, uint16_t(Entries.size()), BE);
  for (size_t i = 0; i < Entries.size(); ++i) {
    const ExifEntry &e = Entries[i];
    const size_t p = at + 2 + i * 12;
    Put16(Out, p, e.Tag, BE);
    Put16(Out, p + 2, e.Type, BE);
    Put32(Out, p + 4, e.Count, BE);
    if (std::find(Pointers.begin(), Pointers.end(), e.Tag) != Pointers.end()) {
      Slots[e.Tag] = p + 8;
    } else if (e.Value.size() <= 4) {
      std::copy(e.Value.begin(), e.Value.end(), Out.begin() + ptrdiff_t(p + 8));
    } else {
      if (Out.size() & 1) Out.push_back(0);
      const size_t v = Out.size();
      Out.insert(Out.end(), e.Value.begin(), e.Value.end());
      Put32(Out, p + 8, uint32_t(v), BE);
    }
  }
  return at;
}

// The compact structure; empty when the source holds nothing worth carrying.
std::vector<uint8_t> BuildExif(ExifDirs &D, bool UpdateSoftware) {
  std::erase_if(D.Ifd0, [](const ExifEntry &e) { return DescribesSourceFile(e.Tag); });
  if (D.Ifd0.empty() && D.Exif.empty() && D.Gps.empty()) return {};
  if (UpdateSoftware) {
    auto it = std::find_if(D.Ifd0.begin(), D.Ifd0.end(), [](const ExifEntry &e) { return e.Tag == TagSoftware; });
    if (it == D.Ifd0.end()) it = D.Ifd0.insert(D.Ifd0.end(), ExifEntry{TagSoftware, 2, 0, {}});
    it->Type = 2;
    it->Value.assign(SoftwareName, SoftwareName + std::strlen(SoftwareName) + 1);
    it->Count = uint32_t(it->Value.size());
  }
  const bool be = D.BigEndian;
  std::vector<uint8_t> out(8);
  out[0] = out[1] = be ? 'M' : 'I';
  Put16(out, 2, 42, be);
  Put32(out, 4, 8, be);
  std::vector<uint16_t> pointers;
  if (!D.Exif.empty()) pointers.push_back(TagExifIfd);
  if (!D.Gps.empty()) pointers.push_back(TagGpsIfd);
  std::map<uint16_t, size_t> slots, none;
  AppendIfd(out, be, D.Ifd0, pointers, slots);
  if (!D.Exif.empty()) Put32(out, slots[TagExifIfd], uint32_t(AppendIfd(out, be, D.Exif, {}, none)), be);
  if (!D.Gps.empty()) Put32(out, slots[TagGpsIfd], uint32_t(AppendIfd(out, be, D.Gps, {}, none)), be);
  return out;
}

// In-place changes of a carried block: the Software value when it has room
// for the program name (as the save does), and the orientation made 1.
void PatchInPlace(std::vector<uint8_t> &Tiff, bool UpdateSoftware, bool ResetOrientation) {
  using namespace exiftiff;
  TTiff t(Tiff.data(), Tiff.size());
  const size_t nameLen = std::strlen(SoftwareName);
  t.ForEachReadable(t.IFD0(), [&](const TEntry &e) {
    if (e.Tag == TAG_SOFTWARE && UpdateSoftware && e.Type == TYPE_ASCII && e.Count > nameLen) {
      t.Zero(e.ValuePos, e.ValueSize);
      t.Put32(e.Pos + 4, uint32_t(nameLen + 1));
      std::memcpy(t.Data() + e.ValuePos, SoftwareName, nameLen);  // still outside the entry: Count > 4
    }
    if (e.Tag == TAG_ORIENTATION && ResetOrientation && e.Count >= 1) {
      if (e.Type == TYPE_SHORT) t.Put16(e.ValuePos, 1);
      else if (e.Type == TYPE_LONG) t.Put32(e.ValuePos, 1);
    }
  });
}

// Every directory of the block and every value they point to lie inside it,
// so that the block can be carried as it is.
bool HoldsTogether(std::span<const uint8_t> Tiff) {
  using namespace exiftiff;
  try {
    std::vector<uint8_t> copy(Tiff.begin(), Tiff.end());
    const TTiff t(copy.data(), copy.size());
    std::vector<uint32_t> dirs{t.IFD0()};
    for (size_t i = 0; i < dirs.size() && i < 8; ++i) {
      t.ForEachReadable(dirs[i], [&](const TEntry &e) {
        if (e.Tag == TagExifIfd || e.Tag == TagGpsIfd || e.Tag == 0xA005)
          if (const auto v = t.TryNumber(e)) dirs.push_back(*v);
      });
    }
    if (const uint32_t ifd1 = t.NextIFDOrNone(t.IFD0())) t.ForEachReadable(ifd1, [](const TEntry &) {});
    return !t.Lost();
  } catch (const EExifBroken &) {
    return false;
  }
}

}  // namespace

bool pixio::DescribesSourceFile(uint16_t Tag) {
  if (Tag >= 0x00FE && Tag <= 0x010A) return true;  // subfile type .. fill order
  if (Tag >= 0x0111 && Tag <= 0x0119 && Tag != 0x0112) return true;  // strips, samples (not orientation)
  if (Tag >= 0x0142 && Tag <= 0x0145) return true;  // tiles
  if (Tag >= 0x0200 && Tag <= 0x0209) return true;  // old-style JPEG
  if (Tag >= 0xBC00 && Tag <= 0xBCFF) return true;  // JPEG XR container
  switch (Tag) {
    case 0x011C: case 0x0122: case 0x0123: case 0x0124: case 0x0125: case 0x013D: case 0x0140: case 0x0141:
    case 0x014A: case 0x014C: case 0x0152: case 0x0153: case 0x0154: case 0x0155: case 0x015B: case 0x0211:
    case 0x0212: case 0x0214: case 0x02BC: case 0x83BB: case 0x8649: case 0x8773: case 0x935C:
      return true;
    default:
      return false;
  }
}

PIXIO_EXPORT int create_exif(uint8_t *Out, uint32_t OutSize, const uint8_t *Data, size_t Size, int UpdateSoftware) {
  int result = 0;
  GuardedEncode("Exif", [&] {
    if (!Out || !Data || Size == 0) throw EncodeError("no data");
    const std::span<const uint8_t> data(Data, Size);
    const WicFormat format = DetectWicFormat(data);
    std::vector<uint8_t> own;
    const std::span<const uint8_t> source = SourceExif(data, own);
    ExifDirs dirs;
    // A file without Exif has nothing to carry: no block, and nothing to report.
    if (!ParseExifDirs(source, dirs)) return;
    std::vector<uint8_t> tiff;
    // A damaged block of its own is rebuilt from what can be read of it.
    if (format == WicFormat::Tiff || format == WicFormat::Jxr || !HoldsTogether(source) || source.size() > MaxTiffSize) {
      tiff = BuildExif(dirs, UpdateSoftware != 0);
      if (tiff.empty()) return;
      if (format == WicFormat::Heif) PatchInPlace(tiff, false, true);
    } else {
      // A block of its own is carried as it is, so that offsets inside it (a
      // maker note's among them) stay valid; only values are changed in place.
      tiff.assign(source.begin(), source.end());
      PatchInPlace(tiff, UpdateSoftware != 0, format == WicFormat::Heif);
    }
    if (tiff.size() > MaxTiffSize) throw EncodeError("the Exif block is larger than one segment");
    std::vector<uint8_t> payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    // The carrier's pixels are never used: an 8 x 8 gray image.
    uint8_t pixels[64] = {};
    TPixioEncode e{};
    e.Mem = pixels, e.Width = 8, e.Height = 8, e.Bpl = 8, e.Channels = 1, e.BitsPerSample = 8;
    e.Quality = 80, e.HSamp = 2, e.VSamp = 2;
    uint32_t len = OutSize;
    // The encoder reports its own failure (a buffer too small among them).
    if (write_jpeg_to_memory(&e, Out, &len, payload.data(), uint32_t(payload.size()))) result = int(len);
  });
  return result;
}
