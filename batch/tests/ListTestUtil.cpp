#include "batch/tests/ListTestUtil.h"

#include <jpeglib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

TTempDir::TTempDir() {
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/tessivo-list-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Read-only fixtures must not keep their folder alive.
  std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(FPath, ec);
}

void MakeDirs(const std::string &Path) { std::filesystem::create_directories(Path); }

void WriteBytes(const std::string &Path, const std::vector<uint8_t> &Bytes) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(Bytes.data()), std::streamsize(Bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + Path);
}

void WriteBmp(const std::string &Path, int32_t Width, int32_t Height) {
  const uint32_t stride = (uint32_t(Width) * 3 + 3) & ~3u;
  const uint32_t pixels = stride * uint32_t(Height);
  std::vector<uint8_t> b(54 + pixels, 0);
  auto le32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  le32(2, uint32_t(b.size()));
  le32(10, 54);
  le32(14, 40);
  le32(18, uint32_t(Width));
  le32(22, uint32_t(Height));
  b[26] = 1, b[28] = 24;
  le32(34, pixels);
  le32(38, 2835), le32(42, 2835);
  for (uint32_t i = 0; i < pixels; ++i) b[54 + i] = uint8_t(i * 7);
  WriteBytes(Path, b);
}

namespace {

uint32_t Crc32(const uint8_t *Data, size_t Size, uint32_t Crc = 0) {
  Crc = ~Crc;
  for (size_t i = 0; i < Size; ++i) {
    Crc ^= Data[i];
    for (int k = 0; k < 8; ++k) Crc = (Crc >> 1) ^ (0xEDB88320u & (0u - (Crc & 1)));
  }
  return ~Crc;
}

void PutBE32(std::vector<uint8_t> &Out, uint32_t V) {
  for (int s = 24; s >= 0; s -= 8) Out.push_back(uint8_t(V >> s));
}

void PutChunk(std::vector<uint8_t> &Out, const char *Type, const std::vector<uint8_t> &Body) {
  PutBE32(Out, uint32_t(Body.size()));
  std::vector<uint8_t> typed(Type, Type + 4);
  typed.insert(typed.end(), Body.begin(), Body.end());
  Out.insert(Out.end(), typed.begin(), typed.end());
  PutBE32(Out, Crc32(typed.data(), typed.size()));
}

}  // namespace

void WritePng(const std::string &Path, int32_t Width, int32_t Height) {
  std::vector<uint8_t> raw;
  for (int32_t y = 0; y < Height; ++y) {
    raw.push_back(0);  // filter: none
    for (int32_t x = 0; x < Width * 3; ++x) raw.push_back(uint8_t(x * 11 + y * 3));
  }
  // zlib stream of stored blocks.
  std::vector<uint8_t> z = {0x78, 0x01};
  for (size_t pos = 0; pos < raw.size() || pos == 0;) {
    const size_t n = std::min<size_t>(65535, raw.size() - pos);
    const bool last = pos + n >= raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(uint8_t(n)), z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n)), z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + std::ptrdiff_t(pos), raw.begin() + std::ptrdiff_t(pos + n));
    pos += n;
    if (last) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t v : raw) a = (a + v) % 65521, b = (b + a) % 65521;
  PutBE32(z, (b << 16) | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBE32(ihdr, uint32_t(Width));
  PutBE32(ihdr, uint32_t(Height));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", {});
  WriteBytes(Path, png);
}

void WriteJpeg(const std::string &Path, int32_t Width, int32_t Height) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char *mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = JDIMENSION(Width);
  c.image_height = JDIMENSION(Height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(size_t(Width) * 3);
  while (c.next_scanline < c.image_height) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 5 + c.next_scanline * 3);
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  WriteBytes(Path, std::vector<uint8_t>(mem, mem + size));
  jpeg_destroy_compress(&c);
  std::free(mem);
}

void SetMTime(const std::string &Path, int64_t Seconds) {
  timeval tv[2] = {{time_t(Seconds), 0}, {time_t(Seconds), 0}};
  ::utimes(Path.c_str(), tv);
}
