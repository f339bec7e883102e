// axarchive.spi on zip archives of many shapes, made by Python's zipfile:
// each member comes back with exactly its bytes, its head with exactly its
// first bytes, and a member whose data is damaged fails with "broken data"
// instead of handing out wrong bytes. Zip members are read straight from
// the file where they can be and through libarchive otherwise; both ways
// are reached here (names stored twice, a stub in front that moves every
// offset, a directory libarchive has to find).
#include "io/ImageProbe.h"
#include "io/SusieABI.h"
#include "io/SusiePlugin.h"
#include "testutil/OutsideTool.h"
#include "testutil/TestEnv.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string Plugin = std::string(TESSIVO_PLUGIN_DIR) + "/axarchive.spi";

std::vector<uint8_t> ReadBytes(const fs::path &Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Python that makes the members' contents: text that deflates well, bytes
// that do not (deflate then stores its blocks), and a JPEG-like mix.
const char *const Contents = R"PY(
import os, random, zipfile, io, struct
out = os.environ['OUT']
expect = os.environ['EXPECT']
rng = random.Random(7)
def text(n): return (b'the quick brown fox jumps over the lazy dog %d\n' * (n // 40 + 1))[:n]
def noise(n): return bytes(rng.getrandbits(8) for _ in range(n))
def mixed(n): return bytes((i * 7 + (i >> 9)) & 0xFF if (i // 4096) % 2 else rng.getrandbits(8) for i in range(n))
kept = []
def keep(data, broken=False):
    kept.append((data, broken))
def finish():
    for i, (data, broken) in enumerate(kept):
        open(os.path.join(expect, str(i) + ('.broken' if broken else '')), 'wb').write(data)
# Flips one byte in the middle of the data of the member at Index of the zip at Path.
def damage(path, index):
    z = zipfile.ZipFile(path)
    zi = z.infolist()[index]
    z.close()
    b = bytearray(open(path, 'rb').read())
    n, e = struct.unpack('<HH', b[zi.header_offset + 26:zi.header_offset + 30])
    at = zi.header_offset + 30 + n + e + zi.compress_size // 2
    b[at] ^= 0x5A
    open(path, 'wb').write(bytes(b))
)PY";

struct TZipCase {
  const char *Name;
  const char *Make;  // Python after Contents: writes the zip at OUT, keep()s what each entry holds, finish()es
};

class ZipMembers : public ::testing::TestWithParam<TZipCase> {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zip-members-XXXXXX";
    Tmp = ::mkdtemp(tmpl);
    fs::create_directories(Tmp + "/expect");
  }
  void TearDown() override { fs::remove_all(Tmp); }
  std::string Tmp;
};

TEST_P(ZipMembers, EachMemberComesBackWithItsOwnBytesAndADamagedOneFails) {
  TESSIVO_REQUIRE(fs::exists(Plugin)) << Plugin;
  TESSIVO_REQUIRE(std::system("command -v python3 >/dev/null") == 0) << "python3";
  const std::string zip = Tmp + "/a.zip", script = Tmp + "/make.py";
  std::ofstream(script) << Contents << GetParam().Make << "\nfinish()\n";
  const std::string cmd = "OUT=" + testenv::ShellQuoted(zip) + " EXPECT=" + testenv::ShellQuoted(Tmp + "/expect") +
                          " python3 " + testenv::ShellQuoted(script);
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  TArchiveSusiePlugin spi;
  ASSERT_TRUE(spi.LoadPlugIn(Plugin));
  std::vector<TArchiveMemberInfo> members;
  ASSERT_EQ(spi.GetArchiveInfo(zip, members), SPI_SUCCESS);
  std::vector<fs::path> expected;
  for (const auto &e : fs::directory_iterator(Tmp + "/expect")) expected.push_back(e.path());
  ASSERT_EQ(members.size(), expected.size());
  // Twice over, so that the second round finds the archive's readers and
  // directory kept from the first.
  for (int round = 0; round < 2; ++round)
    for (size_t i = 0; i < members.size(); ++i) {
      SCOPED_TRACE("entry " + std::to_string(i) + " (" + members[i].Path + members[i].FileName + "), round " +
                   std::to_string(round));
      const bool broken = fs::exists(Tmp + "/expect/" + std::to_string(i) + ".broken");
      const std::vector<uint8_t> want =
          ReadBytes(Tmp + "/expect/" + std::to_string(i) + (broken ? ".broken" : ""));
      ASSERT_EQ(members[i].FileSize, want.size());
      std::vector<uint8_t> got;
      const int r = spi.GetFile(zip, members[i].Position, members[i].FileSize, got);
      if (broken) {
        EXPECT_EQ(r, SPI_BROKEN_DATA);
        continue;
      }
      ASSERT_EQ(r, SPI_SUCCESS);
      EXPECT_TRUE(got == want);
      // The head of a member: its first bytes, however it is stored.
      const uint32_t limit = std::min<uint32_t>(3000, members[i].FileSize / 2);
      if (limit == 0) continue;
      ASSERT_EQ(spi.GetFileHead(zip, members[i].Position, members[i].FileSize, limit, got), SPI_SUCCESS);
      EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()) && got.size() == limit);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ZipMembers,
    ::testing::Values(
        TZipCase{"StoredAndDeflated",
                 "z = zipfile.ZipFile(out, 'w')\n"
                 "for i, (m, d) in enumerate([(zipfile.ZIP_STORED, text(5000)), (zipfile.ZIP_DEFLATED, text(70000)),\n"
                 "                            (zipfile.ZIP_DEFLATED, noise(90000)), (zipfile.ZIP_DEFLATED, mixed(200000)),\n"
                 "                            (zipfile.ZIP_STORED, b''), (zipfile.ZIP_DEFLATED, b'x')]):\n"
                 "    zi = zipfile.ZipInfo('d/m%d.bin' % i)\n"
                 "    if i % 2: zi.extra = struct.pack('<HHB', 0x5455, 5, 1) + b'\\0\\0\\0\\0'  # a timestamp field\n"
                 "    z.writestr(zi, d, compress_type=m); keep(d)\n"
                 "z.close()\n"},
        // Written to a pipe: sizes and CRCs follow the data in descriptors.
        TZipCase{"SizesInDataDescriptors",
                 "class Pipe(io.RawIOBase):\n"
                 "    def __init__(s, f): s.f = f\n"
                 "    def writable(s): return True\n"
                 "    def write(s, b): return s.f.write(b)\n"
                 "    def seekable(s): return False\n"
                 "f = open(out, 'wb'); z = zipfile.ZipFile(Pipe(f), 'w', zipfile.ZIP_DEFLATED)\n"
                 "for i, d in enumerate([mixed(120000), text(3000), noise(20000)]):\n"
                 "    with z.open('p%d.bin' % i, 'w') as w: w.write(d)\n"
                 "    keep(d)\n"
                 "z.close(); f.close()\n"},
        // The same name twice with the same size: which entry is which must
        // not be guessed from the directory.
        TZipCase{"ANameStoredTwice",
                 "import warnings; warnings.simplefilter('ignore')\n"
                 "z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED)\n"
                 "a, b = noise(40000), noise(40000)\n"
                 "z.writestr('same.bin', a); keep(a); z.writestr('same.bin', b); keep(b)\n"
                 "c = text(9000); z.writestr('other.bin', c); keep(c)\n"
                 "z.close()\n"},
        // A program stub in front whose length the offsets do not count.
        TZipCase{"AStubInFront",
                 "buf = io.BytesIO(); z = zipfile.ZipFile(buf, 'w', zipfile.ZIP_DEFLATED)\n"
                 "for i, d in enumerate([mixed(60000), text(8000)]): z.writestr('s%d.bin' % i, d); keep(d)\n"
                 "z.close(); open(out, 'wb').write(noise(5000) + buf.getvalue())\n"},
        TZipCase{"DamagedDeflatedData",
                 "z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED)\n"
                 "d0, d1, d2 = mixed(100000), text(50000), noise(30000)\n"
                 "for i, d in enumerate([d0, d1, d2]): z.writestr('x%d.bin' % i, d)\n"
                 "z.close(); damage(out, 1)\n"
                 "keep(d0); keep(d1, True); keep(d2)\n"},
        TZipCase{"DamagedStoredData",
                 "z = zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED)\n"
                 "d0, d1 = noise(30000), text(50000)\n"
                 "z.writestr('y0.bin', d0); z.writestr('y1.bin', d1)\n"
                 "z.close(); damage(out, 0)\n"
                 "keep(d0, True); keep(d1)\n"}),
    [](const ::testing::TestParamInfo<TZipCase> &I) { return std::string(I.param.Name); });

}  // namespace
