// pngout: recompresses a PNG losslessly and smaller, in place or into a second
// file. Usage: pngout [options] input.png [output.png] [options]
//   -s0 .. -s4  strategy: 0 extreme, 1 intense (default), 2 longest match
//               (zlib at its maximum), 3 Huffman only, 4 uncompressed
//   -y          overwrite an existing output without asking
//   -k0 / -k1   drop / keep every ancillary chunk
//   -kNAME,...  keep these ancillary chunks, drop the others (default: drop all)
//   -force      write the result even when it is not smaller
//   -q          quiet
// Critical chunks and tRNS (part of the pixels) are always kept. The pixels
// keep their colour type and bit depth; interlaced images are written
// progressive-free. Every result is decoded again and compared with the
// source before it replaces anything; it is written to a temporary file in
// the output's folder and renamed over the output.
#include "core/TempFile.h"

#include <png.h>
#include <zlib.h>
#ifdef PNGOUT_HAVE_ZOPFLI
#include <zopfli/zopfli.h>
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  int Strategy = 1;
  bool Overwrite = false;
  bool KeepAll = false;
  bool Force = false;
  bool Quiet = false;
  std::set<std::string> Keep;
  std::string Input, Output;
};

void Usage() {
  std::fputs("usage: pngout [-s0..-s4] [-y] [-k0|-k1|-kNAME,...] [-force] [-q] input.png [output.png]\n", stderr);
}

bool ParseArgs(int argc, char **argv, Options &o) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() > 1 && a[0] == '-') {
      if (a.size() == 3 && a[1] == 's' && a[2] >= '0' && a[2] <= '4') o.Strategy = a[2] - '0';
      else if (a == "-y") o.Overwrite = true;
      else if (a == "-q") o.Quiet = true;
      else if (a == "-force") o.Force = true;
      else if (a == "-k0") o.KeepAll = false, o.Keep.clear();
      else if (a == "-k1") o.KeepAll = true;
      else if (a.size() > 2 && a[1] == 'k') {
        size_t at = 2;
        while (at <= a.size()) {
          size_t end = a.find(',', at);
          if (end == std::string::npos) end = a.size();
          const std::string name = a.substr(at, end - at);
          if (name.size() != 4) {
            std::fprintf(stderr, "pngout: bad chunk name \"%s\" in %s\n", name.c_str(), a.c_str());
            return false;
          }
          o.Keep.insert(name);
          at = end + 1;
        }
      } else {
        std::fprintf(stderr, "pngout: unknown option %s\n", a.c_str());
        return false;
      }
    } else {
      files.push_back(a);
    }
  }
  if (files.empty() || files.size() > 2) return false;
  o.Input = files[0];
  o.Output = files.size() == 2 ? files[1] : files[0];
  return true;
}

// ---- file access ----

std::vector<uint8_t> ReadAll(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure("cannot open " + path + ": " + std::strerror(errno));
  std::vector<uint8_t> d;
  uint8_t buf[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      throw Failure("cannot read " + path + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    d.insert(d.end(), buf, buf + n);
  }
  close(fd);
  return d;
}

// Writes a sibling temporary file, flushed to the disk, and renames it over
// Path: in place, the new file is the only copy of the image.
void ReplaceFile(const std::string &path, const std::vector<uint8_t> &data, mode_t mode) {
  const TOutputFileOptions options{.MakeFolder = false, .Mode = int32_t(mode), .Sync = true};
  std::optional<TOutputFile> out;
  try {
    out.emplace(path, options);
  } catch (const EOutputFileError &e) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    throw Failure("cannot create a temporary file in " + dir + ": " + std::strerror(e.SystemError));
  }
  try {
    out->Write(data);
    out->Commit();
  } catch (const EOutputFileError &e) {
    throw Failure("cannot write " + path + ": " + std::strerror(e.SystemError));
  }
}

// ---- PNG structure ----

constexpr uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t BE32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
void PutBE32(std::vector<uint8_t> &b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

struct Chunk {
  std::string Type;
  std::vector<uint8_t> Data;
};

// Every chunk up to IEND, bounds checked.
std::vector<Chunk> ParseChunks(const std::vector<uint8_t> &d) {
  if (d.size() < 8 || std::memcmp(d.data(), Signature, 8) != 0) throw Failure("not a PNG file");
  std::vector<Chunk> out;
  size_t at = 8;
  for (;;) {
    if (d.size() - at < 12) throw Failure("the PNG file is truncated");
    const uint32_t len = BE32(d.data() + at);
    if (len > 0x7FFFFFFFu || d.size() - at - 12 < len) throw Failure("the PNG file is truncated");
    Chunk c{std::string(reinterpret_cast<const char *>(d.data() + at + 4), 4), {}};
    c.Data.assign(d.begin() + long(at + 8), d.begin() + long(at + 8 + len));
    at += 12 + len;
    const bool end = c.Type == "IEND";
    out.push_back(std::move(c));
    if (end) break;
  }
  return out;
}

void AppendChunk(std::vector<uint8_t> &b, const std::string &type, const uint8_t *data, size_t len) {
  PutBE32(b, uint32_t(len));
  const size_t start = b.size();
  b.insert(b.end(), type.begin(), type.end());
  if (len) b.insert(b.end(), data, data + len);
  PutBE32(b, uint32_t(crc32(0, b.data() + start, uInt(4 + len))));
}

// ---- pixels through libpng ----

struct Image {
  uint32_t Width = 0, Height = 0;
  int Depth = 0, ColorType = 0, Channels = 0;
  size_t RowBytes = 0;
  std::vector<uint8_t> Rows;  // Height x RowBytes, as stored (indexes, big-endian samples)
};

struct ReadState {
  const std::vector<uint8_t> *Data;
  size_t At;
  char Error[256];
};

void ReadFn(png_structp png, png_bytep out, png_size_t n) {
  auto *s = static_cast<ReadState *>(png_get_io_ptr(png));
  if (s->Data->size() - s->At < n) png_error(png, "the PNG file is truncated");
  std::memcpy(out, s->Data->data() + s->At, n);
  s->At += n;
}
void ErrorFn(png_structp png, png_const_charp msg) {
  auto *s = static_cast<ReadState *>(png_get_error_ptr(png));
  std::snprintf(s->Error, sizeof s->Error, "%s", msg ? msg : "libpng error");
  png_longjmp(png, 1);
}
void WarningFn(png_structp, png_const_charp) {}

bool DecodeRows(png_structp png, png_infop info, Image &img, std::vector<png_bytep> &rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_benign_errors(png, 1);
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, 0);
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, ct = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &ct, &interlace, nullptr, nullptr);
  if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
  png_read_update_info(png, info);
  img.Width = w, img.Height = h, img.Depth = depth, img.ColorType = ct;
  img.Channels = png_get_channels(png, info);
  img.RowBytes = png_get_rowbytes(png, info);
  if (uint64_t(img.RowBytes) * h > (uint64_t(1) << 34)) png_error(png, "image is too large");
  img.Rows.resize(img.RowBytes * h);
  rows.resize(h);
  for (uint32_t y = 0; y < h; ++y) rows[y] = img.Rows.data() + img.RowBytes * y;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  return true;
}

Image Decode(const std::vector<uint8_t> &data) {
  ReadState st{&data, 0, {}};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &st, ErrorFn, WarningFn);
  if (!png) throw Failure("libpng initialisation failed");
  png_set_read_fn(png, &st, ReadFn);
  png_infop info = png_create_info_struct(png);
  Image img;
  std::vector<png_bytep> rows;
  const bool ok = info && DecodeRows(png, info, img, rows);
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  if (!ok) throw Failure(st.Error[0] ? st.Error : "cannot decode the PNG file");
  return img;
}

// ---- filtering and compression ----

inline uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Filters one row with filter type F into Out (RowBytes bytes).
void FilterRow(int f, const uint8_t *row, const uint8_t *prev, size_t n, size_t bpp, uint8_t *out) {
  for (size_t i = 0; i < n; ++i) {
    const int a = i >= bpp ? row[i - bpp] : 0, b = prev ? prev[i] : 0, c = (prev && i >= bpp) ? prev[i - bpp] : 0;
    int v = row[i];
    switch (f) {
      case 1: v -= a; break;
      case 2: v -= b; break;
      case 3: v -= (a + b) / 2; break;
      case 4: v -= Paeth(a, b, c); break;
      default: break;
    }
    out[i] = uint8_t(v);
  }
}

// The filtered stream: Strategy 0..4 one filter for every row, 5 per row the
// filter with the smallest sum of absolute (signed) values.
std::vector<uint8_t> FilterImage(const Image &img, int strategy) {
  const size_t n = img.RowBytes, bpp = std::max<size_t>(1, size_t(img.Channels) * img.Depth / 8);
  std::vector<uint8_t> out((n + 1) * img.Height);
  std::vector<uint8_t> trial(n);
  for (uint32_t y = 0; y < img.Height; ++y) {
    const uint8_t *row = img.Rows.data() + n * y, *prev = y ? row - n : nullptr;
    uint8_t *dst = out.data() + (n + 1) * y;
    int f = strategy;
    if (strategy == 5) {
      uint64_t best = UINT64_MAX;
      for (int t = 0; t < 5; ++t) {
        FilterRow(t, row, prev, n, bpp, trial.data());
        uint64_t sum = 0;
        for (uint8_t v : trial) sum += uint64_t(v < 128 ? v : 256 - v);
        if (sum < best) best = sum, f = t;
      }
    }
    dst[0] = uint8_t(f);
    FilterRow(f, row, prev, n, bpp, dst + 1);
  }
  return out;
}

std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t> &in, int level, int zstrategy) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, 15, 9, zstrategy) != Z_OK) throw Failure("zlib initialisation failed");
  std::vector<uint8_t> out(deflateBound(&z, uLong(in.size())) + 64);
  z.next_in = const_cast<Bytef *>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw Failure("zlib compression failed");
  return out;
}

std::vector<uint8_t> DeepCompress(const std::vector<uint8_t> &in, int iterations) {
#ifdef PNGOUT_HAVE_ZOPFLI
  ZopfliOptions o;
  ZopfliInitOptions(&o);
  o.numiterations = iterations;
  unsigned char *out = nullptr;
  size_t size = 0;
  ZopfliCompress(&o, ZOPFLI_FORMAT_ZLIB, in.data(), in.size(), &out, &size);
  std::vector<uint8_t> r(out, out + size);
  std::free(out);
  return r;
#else
  (void)iterations;
  return ZlibCompress(in, 9, Z_DEFAULT_STRATEGY);
#endif
}

// The smallest zlib stream of the image for the strategy.
std::vector<uint8_t> CompressImage(const Image &img, int strategy) {
  if (strategy == 4) return ZlibCompress(FilterImage(img, 0), 0, Z_DEFAULT_STRATEGY);
  if (strategy == 3) {
    std::vector<uint8_t> best;
    for (int f : {0, 5}) {
      auto z = ZlibCompress(FilterImage(img, f), 9, Z_HUFFMAN_ONLY);
      if (best.empty() || z.size() < best.size()) best = std::move(z);
    }
    return best;
  }
  // Rank the filter choices by zlib at its maximum, then spend the deep
  // compressor on the most promising ones.
  struct Candidate {
    std::vector<uint8_t> Filtered, Compressed;
  };
  std::vector<Candidate> cands;
  const bool lowDepth = img.Depth < 8 || img.ColorType == PNG_COLOR_TYPE_PALETTE;
  for (int f : {0, 1, 2, 3, 4, 5}) {
    if (lowDepth && f != 0 && f != 5) continue;  // prediction rarely helps indexes and packed samples
    Candidate c{FilterImage(img, f), {}};
    for (int zs : {Z_DEFAULT_STRATEGY, Z_FILTERED}) {
      auto z = ZlibCompress(c.Filtered, 9, zs);
      if (c.Compressed.empty() || z.size() < c.Compressed.size()) c.Compressed = std::move(z);
    }
    cands.push_back(std::move(c));
  }
  std::sort(cands.begin(), cands.end(),
            [](const Candidate &a, const Candidate &b) { return a.Compressed.size() < b.Compressed.size(); });
  std::vector<uint8_t> best = cands.front().Compressed;
  if (strategy == 2) return best;
  // Deep compression costs time in proportion to the data times the
  // iterations: large pictures get fewer of them.
  const size_t raw = cands.front().Filtered.size();
  const size_t tries = strategy == 0 ? std::min<size_t>(2, cands.size()) : 1;
  const int iterations = strategy == 0 ? (raw <= (1u << 20) ? 15 : raw <= (8u << 20) ? 6 : 3)
                                       : (raw <= (1u << 20) ? 5 : raw <= (8u << 20) ? 2 : 1);
  for (size_t i = 0; i < tries; ++i) {
    auto z = DeepCompress(cands[i].Filtered, iterations);
    if (z.size() < best.size()) best = std::move(z);
  }
  return best;
}

// ---- the whole file ----

bool Kept(const Options &o, const std::string &type) {
  if (type == "IHDR" || type == "PLTE" || type == "IDAT" || type == "IEND" || type == "tRNS") return true;
  if (!(type[0] & 0x20)) return true;  // an unknown critical chunk cannot be dropped
  return o.KeepAll || o.Keep.count(type) != 0;
}

std::vector<uint8_t> Rebuild(const Options &o, const std::vector<Chunk> &chunks, const Image &img) {
  const std::vector<uint8_t> z = CompressImage(img, o.Strategy);
  std::vector<uint8_t> out(Signature, Signature + 8);
  bool wroteData = false;
  for (const Chunk &c : chunks) {
    if (c.Type == "IDAT") {
      if (wroteData) continue;
      for (size_t at = 0; at < z.size(); at += size_t(1) << 24)
        AppendChunk(out, "IDAT", z.data() + at, std::min(z.size() - at, size_t(1) << 24));
      wroteData = true;
      continue;
    }
    if (!Kept(o, c.Type)) continue;
    if (c.Type == "IHDR") {
      if (c.Data.size() != 13) throw Failure("damaged IHDR chunk");
      std::vector<uint8_t> ihdr = c.Data;
      ihdr[12] = 0;  // written without interlacing
      AppendChunk(out, c.Type, ihdr.data(), ihdr.size());
    } else {
      AppendChunk(out, c.Type, c.Data.data(), c.Data.size());
    }
  }
  return out;
}

int Run(const Options &o) {
  const std::vector<uint8_t> original = ReadAll(o.Input);
  const std::vector<Chunk> chunks = ParseChunks(original);
  const Image img = Decode(original);
  const bool inPlace = o.Input == o.Output;
  struct stat st{};
  const bool outputExists = stat(o.Output.c_str(), &st) == 0;
  if (!inPlace && outputExists && !o.Overwrite) throw Failure(o.Output + " exists; -y overwrites it");
  mode_t mode = 0644;
  struct stat in{};
  if (stat(o.Input.c_str(), &in) == 0) mode = in.st_mode & 07777;

  const std::vector<uint8_t> result = Rebuild(o, chunks, img);
  // Nothing replaces a file unless it decodes to the very same pixels.
  const Image check = Decode(result);
  if (check.Width != img.Width || check.Height != img.Height || check.Depth != img.Depth ||
      check.ColorType != img.ColorType || check.Rows != img.Rows)
    throw Failure("internal error: the recompressed image differs from the source");

  if (inPlace && result.size() >= original.size() && !o.Force) {
    if (!o.Quiet) std::printf("%s: unable to compress further, left unchanged (%zu bytes)\n", o.Input.c_str(), original.size());
    return 0;
  }
  ReplaceFile(o.Output, result, mode);
  if (!o.Quiet)
    std::printf("%s: %zu -> %zu bytes (%.1f%%)\n", o.Output.c_str(), original.size(), result.size(),
                100.0 * double(result.size()) / double(original.size()));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    Usage();
    return 2;
  }
  try {
    return Run(o);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "pngout: %s: %s\n", o.Input.c_str(), e.what());
    return 1;
  }
}
