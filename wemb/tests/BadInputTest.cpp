// Files the library must refuse: each gives one message through the callback,
// a zero result and no output bytes.
#include "testutil/TestEnv.h"
#include "wemb/tests/WembTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

namespace fs = std::filesystem;
using namespace wembtest;

std::vector<std::string> GMessages;
void KeepMessage(const char *Caption, const char *Text) { GMessages.push_back(std::string(Caption) + ": " + Text); }

struct TBadCase {
  const char *Name;
  std::function<std::string()> Make;
  const char *MessagePart;  // what the message must name
};

std::string Fixture() { return ReadFile(CachedJpeg("W643xH479_422", 643, 479, {"-sample", "2x1"})); }

const TBadCase BadCases[] = {
    {"TruncatedInsideTheScan", [] { const std::string j = Fixture(); return j.substr(0, j.size() / 2); },
     "Premature end"},
    {"PngRenamedAsJpeg", [] { return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(100, '\0'); },
     "Not a JPEG"},
    {"ArithmeticCoded",
     [] {
       const fs::path dir = fs::temp_directory_path() / ("wemb-bad-" + std::to_string(getpid()));
       fs::create_directories(dir);
       const std::string bytes = ReadFile(MakeJpeg(dir, "arith", 64, 48, {"-arithmetic"}));
       fs::remove_all(dir);
       return bytes;
     },
     "arithmetic"},
    {"Empty", [] { return std::string(); }, "Empty"},
    {"HeaderOnly", [] { const std::string j = Fixture(); return j.substr(0, 200); }, ""},
};

void PrintTo(const TBadCase &C, std::ostream *Os) { *Os << C.Name; }

class BadInput : public ::testing::TestWithParam<TBadCase> {};

TEST_P(BadInput, IsRefusedWithAMessageAndNoOutput) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg"));
  const std::string bytes = GetParam().Make();
  ASSERT_TRUE(init_jpegtran(AppendToString, KeepMessage));
  const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
  for (int transform : {1, 6}) {
    GMessages.clear();
    std::string out;
    EXPECT_EQ(losslesstran(data, uint32_t(bytes.size()), 0, 0, 0, 0, transform, &out, WEMB_OPTIMIZE), 0);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(GMessages.size(), 1u);
    EXPECT_NE(GMessages[0].find(GetParam().MessagePart), std::string::npos) << GMessages[0];
  }
  GMessages.clear();
  TWembJpegInfo info{};
  const int infoOk = read_jpeginfo(&info, data, uint32_t(bytes.size()));
  // The header alone may be sound; an unreadable header is refused with a message.
  if (!infoOk) {
    EXPECT_EQ(GMessages.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, BadInput, ::testing::ValuesIn(BadCases),
                         [](const ::testing::TestParamInfo<TBadCase> &P) { return std::string(P.param.Name); });

// read_jpeginfo against what the files were made with.
struct TInfoCase {
  const char *Name;
  int W, H;
  std::vector<std::string> Options;
  int ColorSpace, MCUWidth, MCUHeight;
};

const TInfoCase InfoCases[] = {
    {"W643xH479_422", 643, 479, {"-sample", "2x1"}, WEMB_CS_YCBCR, 2, 1},
    {"W1203xH901_444", 1203, 901, {"-sample", "1x1"}, WEMB_CS_YCBCR, 1, 1},
    {"W1001xH751_Gray", 1001, 751, {"-grayscale"}, WEMB_CS_GRAY, 1, 1},
};

void PrintTo(const TInfoCase &C, std::ostream *Os) { *Os << C.Name; }

class JpegInfo : public ::testing::TestWithParam<TInfoCase> {};

TEST_P(JpegInfo, GivesSizeColourSpaceMcuAndProfile) {
  TESSIVO_REQUIRE(HaveProgram("cjpeg"));
  const TInfoCase &c = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("wemb-info-" + std::to_string(getpid()));
  fs::create_directories(dir);
  // A profile of 70000 bytes spans two APP2 chunks.
  std::string icc(70000, '\0');
  for (size_t i = 0; i < icc.size(); ++i) icc[i] = char(i * 7 + i / 251);
  WriteFile(dir / "p.icc", icc);
  std::vector<std::string> opts = c.Options;
  opts.insert(opts.end(), {"-icc", (dir / "p.icc").string()});
  const std::string bytes = ReadFile(MakeJpeg(dir, c.Name, c.W, c.H, opts));
  fs::remove_all(dir);

  ASSERT_TRUE(init_jpegtran(AppendToString, KeepMessage));
  TWembJpegInfo info{};
  ASSERT_TRUE(read_jpeginfo(&info, reinterpret_cast<const uint8_t *>(bytes.data()), uint32_t(bytes.size())));
  EXPECT_EQ(info.Width, c.W);
  EXPECT_EQ(info.Height, c.H);
  EXPECT_EQ(info.ColorSpace, c.ColorSpace);
  EXPECT_EQ(info.MCUWidth, c.MCUWidth);
  EXPECT_EQ(info.MCUHeight, c.MCUHeight);
  ASSERT_EQ(info.ICCLength, icc.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(info.ICCProfile), info.ICCLength), icc);
  munmap(info.ICCProfile, info.ICCLength);
}

INSTANTIATE_TEST_SUITE_P(Files, JpegInfo, ::testing::ValuesIn(InfoCases),
                         [](const ::testing::TestParamInfo<TInfoCase> &P) { return std::string(P.param.Name); });

}  // namespace
