#include "ListTestUtil.h"

#include <jpeglib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

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

void CopyFile(const std::string &From, const std::string &To) {
  std::filesystem::copy_file(From, To, std::filesystem::copy_options::overwrite_existing);
}

void SetMTime(const std::string &Path, int64_t Seconds) {
  timeval tv[2] = {{time_t(Seconds), 0}, {time_t(Seconds), 0}};
  ::utimes(Path.c_str(), tv);
}
