// JPEG encoding over libjpeg-turbo, into a file descriptor or a fixed buffer:
// quality, sampling, smoothing, DCT method, explicit tables with their
// component mapping, progressive scans, and the segments in the order
// JFIF (unless Exif replaces it), Exif, ICC profile chunks, extra segments.
#include "pixio/WriteInternal.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <jerror.h>
#include <jpeglib.h>

namespace pixio {

namespace {

struct ErrorMgr {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void OnErrorExit(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<ErrorMgr *>(cinfo->err);
  if (!err->Message[0]) cinfo->err->format_message(cinfo, err->Message);
  longjmp(err->Jump, 1);
}

void OnEmitMessage(j_common_ptr, int) {}  // the encoder's warnings concern nothing the caller could change

// Fails the compression from inside a callback with our own text.
[[noreturn]] void Fail(j_compress_ptr c, const char *text) {
  auto *err = reinterpret_cast<ErrorMgr *>(c->err);
  std::snprintf(err->Message, sizeof err->Message, "%s", text);
  longjmp(err->Jump, 1);
}

// Destination: a file descriptor, through a 64 KB buffer.
struct FdDest {
  jpeg_destination_mgr Pub;
  int Fd;
  JOCTET Buffer[65536];
};

bool WriteAll(int fd, const JOCTET *p, size_t n) {
  while (n) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    p += w, n -= size_t(w);
  }
  return true;
}

// The failure of a write, with the system's reason; the error path leaves by
// longjmp, so the text lives in a buffer of the thread.
const char *WriteFailure() {
  thread_local char Message[160];
  std::snprintf(Message, sizeof Message, "cannot write the JPEG file: %s", std::strerror(errno));
  return Message;
}

void FdInit(j_compress_ptr c) {
  auto *d = reinterpret_cast<FdDest *>(c->dest);
  d->Pub.next_output_byte = d->Buffer;
  d->Pub.free_in_buffer = sizeof d->Buffer;
}
boolean FdEmpty(j_compress_ptr c) {
  auto *d = reinterpret_cast<FdDest *>(c->dest);
  if (!WriteAll(d->Fd, d->Buffer, sizeof d->Buffer)) Fail(c, WriteFailure());
  FdInit(c);
  return TRUE;
}
void FdTerm(j_compress_ptr c) {
  auto *d = reinterpret_cast<FdDest *>(c->dest);
  if (!WriteAll(d->Fd, d->Buffer, sizeof d->Buffer - d->Pub.free_in_buffer)) Fail(c, WriteFailure());
}

// Destination: the caller's buffer; running out of room fails the call. The
// encoder asks for room as soon as the buffer is full, before it knows whether
// another byte follows, so one spill buffer tells an exact fit from an overflow.
struct MemDest {
  jpeg_destination_mgr Pub;
  JOCTET *Buffer;
  size_t Size;
  size_t Used;
  bool Spilled;
  JOCTET Spill[16];
};
void MemInit(j_compress_ptr c) {
  auto *d = reinterpret_cast<MemDest *>(c->dest);
  d->Pub.next_output_byte = d->Buffer;
  d->Pub.free_in_buffer = d->Size;
  d->Spilled = false;
}
boolean MemEmpty(j_compress_ptr c) {
  auto *d = reinterpret_cast<MemDest *>(c->dest);
  if (d->Spilled) Fail(c, "the JPEG does not fit into the buffer");
  d->Spilled = true;
  d->Pub.next_output_byte = d->Spill;
  d->Pub.free_in_buffer = sizeof d->Spill;
  return TRUE;
}
void MemTerm(j_compress_ptr c) {
  auto *d = reinterpret_cast<MemDest *>(c->dest);
  if (d->Spilled && d->Pub.free_in_buffer != sizeof d->Spill) Fail(c, "the JPEG does not fit into the buffer");
  d->Used = d->Spilled ? d->Size : d->Size - d->Pub.free_in_buffer;
}

struct Compressor {
  jpeg_compress_struct Cinfo{};
  ErrorMgr Err{};
  bool Created = false;
  Compressor() {
    Cinfo.err = jpeg_std_error(&Err.Pub);
    Err.Pub.error_exit = OnErrorExit;
    Err.Pub.emit_message = OnEmitMessage;
  }
  ~Compressor() {
    if (Created) jpeg_destroy_compress(&Cinfo);
  }
};

// A checked view of the extra-segment block: (code, payload) in file order.
struct Segment {
  int Code;
  const uint8_t *Payload;
  unsigned Len;
};
std::vector<Segment> ExtraSegments(const TPixioEncode &Info) {
  std::vector<Segment> out;
  if (!Info.Marker || !Info.MarkerCount) return out;
  const size_t limit = Info.MarkerSize ? Info.MarkerSize : SIZE_MAX;
  size_t at = 0;
  for (uint32_t i = 0; i < Info.MarkerCount; ++i) {
    if (limit - at < 4) throw EncodeError("extra segments are truncated");
    const uint8_t *p = Info.Marker + at;
    if (p[0] != 0xFF) throw EncodeError("extra segments are damaged");
    const unsigned len = unsigned(p[2]) << 8 | p[3];
    if (len < 2 || limit - at - 2 < len) throw EncodeError("extra segments are truncated");
    // Only application data and comments: anything else would change the coded image.
    if ((p[1] >= 0xE0 && p[1] <= 0xEF) || p[1] == 0xFE) out.push_back({p[1], p + 4, len - 2});
    at += 2 + len;
  }
  return out;
}

struct Plan {
  std::vector<JSAMPROW> Rows;
  std::vector<uint8_t> Exif;
  std::vector<Segment> Extra;
};

void CheckRecord(const TPixioEncode &Info) {
  CheckImage(Info, {1, 3, 4}, {8});
  if (Info.Palette) throw EncodeError("JPEG has no palette images");
  if (Info.Channels >= 3 && !(Info.HSamp >= 1 && Info.HSamp <= 4 && Info.VSamp >= 1 && Info.VSamp <= 4))
    throw EncodeError("unsupported sampling factors");
  if (Info.Flags & PIXIO_FLAG_EXPLICIT_TABLES) {
    if (Info.QTCount < 1 || Info.QTCount > 4) throw EncodeError("explicit tables: bad table count");
    if (Info.QTChannels < 0 || Info.QTChannels > 4) throw EncodeError("explicit tables: bad component count");
    for (int i = 0; i < Info.QTChannels; ++i)
      if (Info.QTIndex[i] < 0 || Info.QTIndex[i] >= Info.QTCount) throw EncodeError("explicit tables: bad table index");
  }
}

// All libjpeg calls, under one setjmp; no C++ object is created after it.
bool Compress(Compressor &k, const TPixioEncode &Info, Plan &plan) {
  if (setjmp(k.Err.Jump)) return false;
  j_compress_ptr c = &k.Cinfo;
  c->image_width = Info.Width;
  c->image_height = Info.Height;
  c->input_components = int(Info.Channels);
  const bool ycc = Info.Channels == 3 && (Info.Flags & PIXIO_FLAG_YCBCR_INPUT);
  c->in_color_space = Info.Channels == 1 ? JCS_GRAYSCALE : Info.Channels == 4 ? JCS_CMYK : ycc ? JCS_YCbCr : JCS_EXT_BGR;
  jpeg_set_defaults(c);
  jpeg_set_quality(c, std::clamp(Info.Quality, 0, 100), TRUE);
  if (Info.Channels >= 3) {
    // Colour and CMYK (stored as YCCK): the luma-like components at the given
    // factors, the two colour-difference components once per block.
    for (int i = 0; i < c->num_components; ++i) {
      const bool full = i == 0 || i == 3;
      c->comp_info[i].h_samp_factor = full ? Info.HSamp : 1;
      c->comp_info[i].v_samp_factor = full ? Info.VSamp : 1;
    }
  }
  c->smoothing_factor = std::clamp(Info.Smoothing, 0, 100);
  c->dct_method = Info.DCTMethod == 2 ? JDCT_FLOAT : Info.DCTMethod == 1 ? JDCT_IFAST : JDCT_ISLOW;
  if (Info.Flags & PIXIO_FLAG_EXPLICIT_TABLES) {
    unsigned table[DCTSIZE2];
    for (int t = 0; t < Info.QTCount; ++t) {
      for (int i = 0; i < DCTSIZE2; ++i) table[i] = std::clamp<unsigned>(Info.QT[t][i], 1, 32767);
      jpeg_add_quant_table(c, t, table, 100, FALSE);
    }
    for (int i = 0; i < Info.QTChannels && i < c->num_components; ++i) c->comp_info[i].quant_tbl_no = Info.QTIndex[i];
  }
  c->write_JFIF_header = !(plan.Exif.size() && (Info.Flags & PIXIO_FLAG_OMIT_APP0));
  c->density_unit = UINT8(Info.DensityUnit == 1 || Info.DensityUnit == 2 ? Info.DensityUnit : 0);
  c->X_density = UINT16(std::clamp<uint32_t>(Info.XDensity, 1, 65535));
  c->Y_density = UINT16(std::clamp<uint32_t>(Info.YDensity, 1, 65535));
  if (Info.Progressive) jpeg_simple_progression(c);

  jpeg_start_compress(c, TRUE);
  if (!plan.Exif.empty()) jpeg_write_marker(c, JPEG_APP0 + 1, plan.Exif.data(), unsigned(plan.Exif.size()));
  if (Info.ICCProfile && Info.ProfileLen) jpeg_write_icc_profile(c, Info.ICCProfile, Info.ProfileLen);
  for (const Segment &s : plan.Extra) jpeg_write_marker(c, s.Code, s.Payload, s.Len);
  while (c->next_scanline < c->image_height) {
    const JDIMENSION at = c->next_scanline;
    if (jpeg_write_scanlines(c, plan.Rows.data() + at, c->image_height - at) == 0) Fail(c, "encoder took no rows");
  }
  jpeg_finish_compress(c);
  return true;
}

void Encode(const TPixioEncode &Info, jpeg_destination_mgr *Dest, const uint8_t *Exif, uint32_t ExifLen) {
  CheckRecord(Info);
  Plan plan;
  if (Exif && ExifLen) {
    plan.Exif = ExifApp1Payload({Exif, ExifLen});
    if (plan.Exif.empty()) throw EncodeError("the Exif block holds no TIFF structure");
    if (plan.Exif.size() > 65533) throw EncodeError("the Exif block is larger than one segment");
  }
  plan.Extra = ExtraSegments(Info);
  plan.Rows.resize(Info.Height);
  for (uint32_t y = 0; y < Info.Height; ++y) plan.Rows[y] = const_cast<JSAMPROW>(EncodeRow(Info, y, false));
  Compressor k;
  jpeg_create_compress(&k.Cinfo);
  k.Created = true;
  k.Cinfo.dest = Dest;
  if (!Compress(k, Info, plan)) throw EncodeError(k.Err.Message);
}

}  // namespace

}  // namespace pixio

using namespace pixio;

extern "C" {

PIXIO_EXPORT int write_jpeg(const TPixioEncode *Info, int Fd, const uint8_t *Exif, uint32_t ExifLen) {
  return GuardedEncode("JPEG", [&] {
    if (!Info) throw EncodeError("no encode record");
    if (Fd < 0) throw EncodeError("no file to write");
    auto dest = std::make_unique<FdDest>();
    dest->Pub.init_destination = FdInit;
    dest->Pub.empty_output_buffer = FdEmpty;
    dest->Pub.term_destination = FdTerm;
    dest->Fd = Fd;
    Encode(*Info, &dest->Pub, Exif, ExifLen);
  });
}

PIXIO_EXPORT int write_jpeg_to_memory(const TPixioEncode *Info, uint8_t *Buffer, uint32_t *Length,
                                      const uint8_t *Exif, uint32_t ExifLen) {
  return GuardedEncode("JPEG", [&] {
    if (!Info || !Buffer || !Length) throw EncodeError("no encode record or buffer");
    MemDest dest{};
    dest.Pub.init_destination = MemInit;
    dest.Pub.empty_output_buffer = MemEmpty;
    dest.Pub.term_destination = MemTerm;
    dest.Buffer = Buffer;
    dest.Size = *Length;
    try {
      Encode(*Info, &dest.Pub, Exif, ExifLen);
    } catch (...) {
      *Length = 0;
      throw;
    }
    *Length = uint32_t(dest.Used);
  });
}

}  // extern "C"
