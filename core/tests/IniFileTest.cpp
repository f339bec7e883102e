#include "core/IniFile.h"

#include "core/Errors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

const std::string Bom = "\xEF\xBB\xBF";

TMemIniFile FromBytes(const std::string &Bytes) {
  TMemIniFile ini;
  ini.LoadFromBytes(Bytes);
  return ini;
}

TEST(IniFile, ReadsTypedValuesWithDefaults) {
  const TMemIniFile ini = FromBytes(
      "[System]\nMaxThread=3\nParallel=-1\nAVX=0\nBad=12x\nHex=$10\nBig=99999999999\n"
      "Spaced = 7 \n; Comment=5\nMEMRESERVE=2\nFloat=0.25\n");
  struct Case {
    const char *key;
    int32_t def, integer;
    bool boolDef, boolean;
  };
  const Case cases[] = {
      {"MaxThread", 0, 3, false, true},  {"Parallel", 0, -1, false, true},
      {"AVX", 1, 0, true, false},        {"Bad", 5, 5, true, true},
      {"Bad", 5, 5, false, false},       {"Hex", 0, 16, false, true},
      {"Big", 4, 4, false, false},       {"Spaced", 0, 7, false, true},
      {"Comment", 9, 9, false, false},   {"memreserve", 0, 2, false, true},
      {"Missing", 42, 42, true, true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(ini.ReadInteger("system", c.key, c.def), c.integer) << c.key;
    EXPECT_EQ(ini.ReadBool("System", c.key, c.boolDef), c.boolean) << c.key;
  }
  EXPECT_DOUBLE_EQ(ini.ReadFloat("System", "Float", 1), 0.25);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("System", "Bad", 1.5), 1.5);
  EXPECT_EQ(ini.ReadString("Other", "MaxThread", "d"), "d");
  EXPECT_TRUE(ini.ValueExists("SYSTEM", "avx"));
  EXPECT_FALSE(ini.ValueExists("System", "Comment"));
}

TEST(IniFile, WritesBooleansAsDigitsAndNewKeysInTheirSection) {
  TMemIniFile ini = FromBytes("[A]\nx=1\n\n[B]\ny=2\n");
  ini.WriteBool("A", "On", true);
  ini.WriteBool("A", "Off", false);
  ini.WriteInteger("B", "y", -5);
  ini.WriteFloat("C", "f", 640);
  ini.WriteFloat("C", "g", 0.1);
  EXPECT_EQ(ini.SaveToBytes(), Bom + "[A]\nx=1\nOn=1\nOff=0\n\n[B]\ny=-5\n[C]\nf=640\ng=0.1\n");
}

TEST(IniFile, RewriteKeepsUnknownLinesByteForByte) {
  const std::string original =
      "; written by hand\r\n"
      "[Unknown Section]\r\n"
      "  Weird Key = spaced value  \r\n"
      "Japanese=日本語の値\r\n"
      "noequals line\r\n"
      "\r\n"
      "[Resize]\r\n"
      "Rule=3\r\n"
      "Extra=keep me\r\n"
      "[Tail]\r\n"
      "last=no line end";
  TMemIniFile ini = FromBytes(original);
  ini.WriteInteger("Resize", "Rule", 7);
  ini.WriteString("Resize", "History", "\"7,800,600\"");
  ini.WriteString("Tail", "new", "x");
  std::string expected = original;
  expected.replace(expected.find("Rule=3"), 6, "Rule=7");
  expected.insert(expected.find("[Tail]"), "History=\"7,800,600\"\r\n");
  expected += "\r\nnew=x\r\n";
  EXPECT_EQ(ini.SaveToBytes(), Bom + expected);

  // A file that already has the mark reads the same and keeps it once.
  const TMemIniFile again = FromBytes(ini.SaveToBytes());
  EXPECT_EQ(again.SaveToBytes(), ini.SaveToBytes());
  EXPECT_EQ(again.ReadString("Unknown Section", "Weird Key", ""), "spaced value");
}

TEST(IniFile, ReadsWindowsProfileInCodePage932) {
  // "[AddText]" / Text=画像①～ソ表 / Font=ＭＳ ゴシック in CP932, CR LF line ends.
  const std::string cp932 =
      "[AddText]\r\nText=\x89\xE6\x91\x9C\x87\x40\x81\x60\x83\x5C\x95\x5C\r\n"
      "Font=\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E\r\nUse=1\r\n";
  TMemIniFile ini = FromBytes(cp932);
  EXPECT_TRUE(ini.WasLegacyEncoding());
  EXPECT_EQ(ini.ReadString("AddText", "Text", ""), "画像①～ソ表");
  EXPECT_EQ(ini.ReadString("AddText", "Font", ""), "ＭＳ ゴシック");
  EXPECT_TRUE(ini.ReadBool("AddText", "Use", false));
  ini.WriteBool("AddText", "Use", false);
  EXPECT_EQ(ini.SaveToBytes(), Bom + "[AddText]\r\nText=画像①～ソ表\r\nFont=ＭＳ ゴシック\r\nUse=0\r\n");

  // UTF-8 without a mark is not mistaken for CP932; a broken byte does not stop the load.
  EXPECT_FALSE(FromBytes("[A]\nk=日本語\n").WasLegacyEncoding());
  EXPECT_EQ(FromBytes("[A]\nk=\x89\xE6\xFF\n").ReadString("A", "k", ""), "画\xEF\xBF\xBD");
}

TEST(IniFile, SectionListsEraseAndDelete) {
  TMemIniFile ini = FromBytes("top=1\n[Convert]\njpg=png\nbmp=png\njpg=dup\n[Segment1]\nMarker=65534\n[X]\n");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Convert", "Segment1", "X"}));
  EXPECT_EQ(ini.ReadSection("convert"), (std::vector<std::string>{"jpg", "bmp"}));
  EXPECT_EQ(ini.ReadSectionValues("Convert"), (std::vector<std::string>{"jpg=png", "bmp=png", "jpg=dup"}));
  EXPECT_EQ(ini.ReadString("Convert", "JPG", ""), "png");  // the first line of a key counts
  ini.EraseSection("Segment1");
  ini.DeleteKey("Convert", "jpg");
  EXPECT_EQ(ini.SaveToBytes(), Bom + "top=1\n[Convert]\nbmp=png\n[X]\n");
}

TEST(IniFile, FileRoundTripAndMissingFile) {
  char dir[] = "/tmp/inifileXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/TessivoPlus.ini";
  TMemIniFile ini(path);  // missing: empty, no error
  EXPECT_TRUE(ini.ReadSections().empty());
  ini.WriteString("File", "FileNameFormat", "resize/<old>");
  ini.UpdateFile();
  const TMemIniFile back(path);
  EXPECT_EQ(back.ReadString("File", "FileNameFormat", ""), "resize/<old>");
  std::remove(path.c_str());
  rmdir(dir);
  EXPECT_THROW(TMemIniFile("/nonexistent-dir/x.ini").UpdateFile(), ETessivoError);
}

TEST(IniFile, FloatTexts) {
  const struct {
    double v;
    const char *text;
  } cases[] = {{640, "640"}, {0.5, "0.5"}, {-2.25, "-2.25"}, {1e20, "1e+20"}, {1.0 / 3, "0.333333333333333"}};
  for (const auto &c : cases) EXPECT_EQ(FloatToIniText(c.v), c.text);
  double v;
  for (const char *bad : {"", "1,5", "0x10", "nan", "inf", "1.2.3", "12px"}) EXPECT_FALSE(TryParseDecimal(bad, v)) << bad;
  ASSERT_TRUE(TryParseDecimal(" 12.5 ", v));
  EXPECT_EQ(v, 12.5);
}

TEST(CommaText, SplitAndJoin) {
  using V = std::vector<std::string>;
  const struct {
    const char *text;
    bool blanks;
    V items;
  } cases[] = {
      {"\"8,640,480\",\"0,50,50\"", true, {"8,640,480", "0,50,50"}},
      {"100,512,384", true, {"100", "512", "384"}},
      {"a b,,c", true, {"a", "b", "", "c"}},
      {"a,", true, {"a", ""}},
      {"", true, {}},
      {"   ", true, {}},
      {"\"say \"\"hi\"\"\",x", true, {"say \"hi\"", "x"}},
      {"\"unclosed", true, {"unclosed"}},
      {" a , b ", false, {" a ", " b "}},
      {"a b,c", false, {"a b", "c"}},
  };
  for (const auto &c : cases) EXPECT_EQ(SplitCommaText(c.text, c.blanks), c.items) << c.text;

  EXPECT_EQ(JoinCommaText({"8,640,480", "0,50,50"}, true), "\"8,640,480\",\"0,50,50\"");
  const V tricky{"plain", "with space", "", "q\"uote"};
  EXPECT_EQ(JoinCommaText(tricky), "plain,\"with space\",\"\",\"q\"\"uote\"");
  EXPECT_EQ(SplitCommaText(JoinCommaText(tricky)), tricky);
}

}  // namespace
