// TQuzen with the real bin/WEMBC: a same-file output, read-only outputs, and
// a file the tool refuses.
#include "core/Errors.h"
#include "effects/Effect.h"
#include "lossless/Quzen.h"
#include "testutil/TestEnv.h"
#include "wemb/tests/WembTestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using namespace wembtest;

class Quzen : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("quzen-" + std::to_string(getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    CreateDefaultEffects(Effects, "");
    Settings.Option.Rotation = 2;
    Settings.Option.OptimizeMode = 0;
  }
  void TearDown() override { fs::remove_all(Dir); }
  bool HaveTools() const {
    return !testenv::BinFile("WEMBC").empty() && HaveProgram("cjpeg") && HaveProgram("jpegtran") &&
           HaveProgram("djpeg");
  }
  static mode_t ModeOf(const fs::path &P) {
    struct stat st{};
    stat(P.c_str(), &st);
    return st.st_mode & 07777;
  }
  std::string Turned(const fs::path &In) {
    const fs::path ref = Dir / "ref.jpg";
    RunProgram({"jpegtran", "-rotate", "90", "-trim", "-outfile", ref.string(), In.string()});
    return RunProgram({"djpeg", "-pnm", ref.string()});
  }

  fs::path Dir;
  TEffectList Effects;
  TWembSettings Settings;
};

TEST_F(Quzen, SameFileOutputReplacesAReadOnlySourceAndKeepsItsMode) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = MakeJpeg(Dir, "self", 160, 96, {"-sample", "2x2"});
  const std::string expected = Turned(in);
  chmod(in.c_str(), 0444);
  TQuzen q(testenv::BinFile("WEMBC"));
  q.InitWembParam(Settings, Effects);
  q.Convert(in.string(), in.string());
  EXPECT_EQ(RunProgram({"djpeg", "-pnm", in.string()}), expected);
  EXPECT_EQ(ModeOf(in), 0444u);
  EXPECT_FALSE(fs::exists(in.string() + ".tmp"));
}

TEST_F(Quzen, ARefusedSourceStaysAsItWasWithNothingLeftBehind) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = MakeJpeg(Dir, "cut", 160, 96, {"-sample", "2x2"});
  const std::string cut = ReadFile(in).substr(0, 400);
  WriteFile(in, cut);
  TQuzen q(testenv::BinFile("WEMBC"));
  q.InitWembParam(Settings, Effects);
  for (const fs::path &out : {in, Dir / "other.jpg"}) {
    try {
      q.Convert(in.string(), out.string());
      ADD_FAILURE() << "no error for " << out;
    } catch (const ETessivoError &e) {
      EXPECT_NE(std::string(e.what()).find("WEMBC wrote no output ("), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(in), cut);
  }
  for (const fs::directory_entry &e : fs::directory_iterator(Dir)) EXPECT_EQ(e.path(), in) << "left behind";
}

TEST_F(Quzen, AReadOnlyOutputIsReplacedAndStaysReadOnly) {
  TESSIVO_REQUIRE(HaveTools());
  const fs::path in = MakeJpeg(Dir, "src", 160, 96, {"-sample", "2x2"}), out = Dir / "out.jpg";
  WriteFile(out, "old");
  chmod(out.c_str(), 0440);
  TQuzen q(testenv::BinFile("WEMBC"));
  q.InitWembParam(Settings, Effects);
  q.Convert(in.string(), out.string());
  EXPECT_EQ(RunProgram({"djpeg", "-pnm", out.string()}), Turned(in));
  EXPECT_EQ(ModeOf(out), 0440u);
}

TEST_F(Quzen, TheBlockIsGoneWithTheObject) {
  std::string name;
  {
    TQuzen q("/nonexistent/WEMBC");
    q.InitWembParam(Settings, Effects);
    name = q.ParamName();
    EXPECT_TRUE(ReadWembSharedBlock(name));
    EXPECT_THROW(q.Convert((Dir / "a.jpg").string(), (Dir / "b.jpg").string()), ETessivoError);
  }
  EXPECT_FALSE(ReadWembSharedBlock(name));
}

}  // namespace
