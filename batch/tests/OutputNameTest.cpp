// The naming pass of a run on real files: serial numbers, the overwrite
// policy with "[k]" numbering, read-only outputs, invalid templates, created
// folders, and the thread with pause and stop.
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "batch/ImageInfo.h"
#include "batch/tests/ListTestUtil.h"
#include "batch/MakeOutputFileName.h"
#include "batch/ProgressFrm3.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace {

class OutputNames : public ::testing::Test {
protected:
  void SetUp() override {
    FSaved = FileOption;
    FSavedNext = NextSerialNumber;
    FSavedMode = ConvertMode;
    ConvertMode = CONVERT_MODE_NORMAL;
    FileOption.NotOverwrite = true;
    FileOption.Skip = false;
    FileOption.IgnoreReadOnlyAttr = LongFalse;
    FileOption.StartNumber = 1;
    FileOption.ResetType = 0;
    LoadConvertTable({});
  }
  void TearDown() override {
    FileOption = FSaved;
    NextSerialNumber = FSavedNext;
    ConvertMode = FSavedMode;
  }

  // Writes BMP sources with these names into the temporary folder and lists them.
  void AddBmps(std::initializer_list<const char *> Names, const std::string &Sub = "src") {
    MakeDirs(Dir / Sub);
    std::vector<std::string> paths;
    for (const char *n : Names) {
      WriteBmp(Dir / (Sub + "/" + n), 300, 100);
      paths.push_back(Dir / (Sub + "/" + n));
    }
    TProgressForm3 form(List);
    form.SetOptions(TListupOptions{});
    form.AddFiles(paths, false);
    ASSERT_EQ(form.ShowModal(), 1);
  }

  std::vector<std::string> OutNames() const {
    std::vector<std::string> out;
    for (int32_t i = 0; i < List.Count(); ++i) {
      const std::string &o = List[i]->OutPutFileName;
      out.push_back(o.empty() ? "" : o.substr(Dir.Path().size() + 1));
    }
    return out;
  }

  TTempDir Dir;
  TImageInfoList List;

private:
  TFileOption FSaved;
  int32_t FSavedNext = 1;
  int32_t FSavedMode = 0;
};

}  // namespace

TEST_F(OutputNames, DefaultTemplateBesideTheSource) {
  MakeDirs(Dir / "p");
  WriteJpeg(Dir / "p/IMG_1.JPG", 8, 8);
  TProgressForm3 form(List);
  form.SetOptions(TListupOptions{});
  form.AddFiles({Dir / "p/IMG_1.JPG"}, false);
  ASSERT_EQ(form.ShowModal(), 1);
  const TOutputNameTotals totals = MakeOutputFileNames(List, TFileOption{}.FileNameFormat, CurrentRunSettings(), nullptr);
  EXPECT_EQ(totals.OutputFileCount, 1);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"p/resize/IMG_1.jpg"}));
  EXPECT_EQ(OutputTypeOf(List[0]->OutPutFileName), OUTPUT_JPEG);
  struct stat st {};
  EXPECT_EQ(::stat((Dir / "p/resize").c_str(), &st), 0) << "the output folder is created";

  const TOutputNameTotals png = MakeOutputFileNames(List, "resize/<old>.png", CurrentRunSettings(), nullptr);
  EXPECT_EQ(png.OutputFileCount, 1);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"p/resize/IMG_1.png"}));
  EXPECT_EQ(OutputTypeOf(List[0]->OutPutFileName), OUTPUT_PNG);
}

TEST_F(OutputNames, SerialNumbers) {
  AddBmps({"a.bmp", "b.bmp", "c.bmp"});
  TOutputNameTotals t = MakeOutputFileNames(List, "img<n3>", CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"src/img001.bmp", "src/img002.bmp", "src/img003.bmp"}));
  EXPECT_EQ(t.OutputFileCount, 3);
  EXPECT_EQ(t.AllSize, 3 * 2);  // 300 x 100: 2 x 1 tiles each
  EXPECT_EQ(NextSerialNumber, 4);

  MakeOutputFileNames(List, "img<n3><s7>", CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"src/img007.bmp", "src/img008.bmp", "src/img009.bmp"}));
  EXPECT_EQ(NextSerialNumber, 10);

  // ResetType 1 continues from run to run, 2 also stores the next number.
  FileOption.ResetType = 1;
  MakeOutputFileNames(List, "n<n>", CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"src/n10.bmp", "src/n11.bmp", "src/n12.bmp"}));
  FileOption.ResetType = 0;
  MakeOutputFileNames(List, "n<n>", CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"src/n1.bmp", "src/n2.bmp", "src/n3.bmp"}));

  AddBmps({"d.bmp", "e.bmp"});
  FileOption.ResetType = 2;
  FileOption.StartNumber = 1;
  NextSerialNumber = 1;
  MakeOutputFileNames(List, "n<n>", CurrentRunSettings(), nullptr);
  EXPECT_EQ(FileOption.StartNumber, 6);
  EXPECT_EQ(NextSerialNumber, 6);

  // Unchecked entries take no number.
  List[1]->Checked = false;
  FileOption.ResetType = 0;
  FileOption.StartNumber = 1;
  MakeOutputFileNames(List, "n<n>", CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"src/n1.bmp", "", "src/n2.bmp", "src/n3.bmp", "src/n4.bmp"}));
}

TEST_F(OutputNames, NumberedWhenTakenAndSkip) {
  AddBmps({"a.bmp"}, "one");
  AddBmps({"a.bmp"}, "two");
  AddBmps({"a.bmp"}, "three");
  MakeDirs(Dir / "out");
  WriteBytes(Dir / "out/a.bmp", {1});
  WriteBytes(Dir / "out/a[1].bmp", {1});
  const std::string t = Dir / "out/<old>";
  MakeOutputFileNames(List, t, CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"out/a[2].bmp", "out/a[3].bmp", "out/a[4].bmp"}));

  ::unlink((Dir / "out/a.bmp").c_str());
  ::unlink((Dir / "out/a[1].bmp").c_str());
  MakeOutputFileNames(List, t, CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"out/a.bmp", "out/a[1].bmp", "out/a[2].bmp"}));

  FileOption.Skip = true;
  WriteBytes(Dir / "out/a.bmp", {1});
  const TOutputNameTotals skipped = MakeOutputFileNames(List, t, CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(skipped.OutputFileCount, 0);
  ::unlink((Dir / "out/a.bmp").c_str());
  MakeOutputFileNames(List, t, CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"out/a.bmp", "", ""}));

  // Names differing only in case collide, as they would on a case-folding file system.
  FileOption.Skip = false;
  AddBmps({"A.bmp"}, "four");
  MakeOutputFileNames(List, t, CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"out/a.bmp", "out/a[1].bmp", "out/a[2].bmp", "out/A[3].bmp"}));
}

TEST_F(OutputNames, OverwritingPolicyAndReadOnlyOutputs) {
  AddBmps({"a.bmp"}, "one");
  AddBmps({"a.bmp", "b.bmp", "c.bmp"}, "two");
  MakeDirs(Dir / "out");
  WriteBytes(Dir / "out/b.bmp", {1});       // an ordinary output is replaced
  WriteBytes(Dir / "out/c.bmp", {1});
  ::chmod((Dir / "out/c.bmp").c_str(), 0444);  // a read-only one is not
  FileOption.NotOverwrite = false;
  const std::string t = Dir / "out/<old>";
  TOutputNameTotals totals = MakeOutputFileNames(List, t, CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"out/a.bmp", "", "out/b.bmp", ""}));
  EXPECT_EQ(totals.OutputFileCount, 2);
  FileOption.IgnoreReadOnlyAttr = LongTrue;
  totals = MakeOutputFileNames(List, t, CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"out/a.bmp", "", "out/b.bmp", "out/c.bmp"}));
  EXPECT_EQ(totals.OutputFileCount, 3);
}

TEST_F(OutputNames, InvalidTemplateInvalidatesTheRun) {
  AddBmps({"a.bmp", "b.bmp"});
  const struct {
    const char *Template;
    int32_t Count;
  } cases[] = {{"x?<old>", -1}, {"<OLD>", -1}, {"out/.png", -1}, {"out/", -1}, {"<n2>|", -1}, {"ok_<old>", 2}};
  for (const auto &c : cases) {
    const TOutputNameTotals t = MakeOutputFileNames(List, c.Template, CurrentRunSettings(), nullptr);
    EXPECT_EQ(t.OutputFileCount, c.Count) << c.Template;
  }
  EXPECT_STREQ(InvalidFileNameMessage, "ファイル名に使用できない文字が含まれています");
}

TEST_F(OutputNames, EntriesThatCannotBeConverted) {
  AddBmps({"a.bmp", "b.bmp", "c.bmp"});
  ::unlink(List[0]->FPath.c_str());  // vanished source
  List[1]->Width = 0;                // no size
  const TOutputNameTotals t = MakeOutputFileNames(List, "<n>_<old>", CurrentRunSettings(), nullptr);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"", "", "src/1_c.bmp"}));
  EXPECT_EQ(t.OutputFileCount, 1);
}

TEST_F(OutputNames, ResizeScaleReachesTheTemplate) {
  AddBmps({"a.bmp"});
  ResizeOption.DecimationMode = 9;
  const TOutputNameTotals t =
      MakeOutputFileNames(List, "<old>_<resizemode>", CurrentRunSettings(),
                          [](const TImageInfo &) { return TScale{0.5, 0.5}; });
  EXPECT_EQ(t.OutputFileCount, 1);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{std::string("src/a_NearestNeighbor") +
                                                  (ResizeOption.SIMDMode == 2 ? "_float" : "_int") +
                                                  (ResizeOption.Degamma ? "_degamma" : "") + ".bmp"}));
}

TEST_F(OutputNames, ThreadReportsPausesAndStops) {
  AddBmps({"a.bmp", "b.bmp"});
  std::atomic<uint32_t> message{0};
  const TRunSettings Settings = CurrentRunSettings();
  {
    TMakeOutputFileNameThread thread(List, "t<n>", Settings, [&](uint32_t Msg, uint64_t) { message = Msg; });
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(message.load(), WM_NAMES_DONE);
    EXPECT_EQ(thread.Totals().OutputFileCount, 2);
  }
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"src/t1.bmp", "src/t2.bmp"}));

  // Paused from the start: nothing is named until it is resumed.
  std::atomic<bool> suspend{true};
  message = 0;
  TMakeOutputFileNameThread paused(List, "p<n>", Settings, [&](uint32_t Msg, uint64_t) { message = Msg; }, nullptr, &suspend);
  paused.Resume();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(message.load(), 0u);
  suspend = false;
  paused.RunEvent.Set();
  paused.WaitFor();
  EXPECT_EQ(message.load(), WM_NAMES_DONE);
  EXPECT_EQ(OutNames(), (std::vector<std::string>{"src/p1.bmp", "src/p2.bmp"}));

  // Stopped while paused.
  suspend = true;
  message = 0;
  TMakeOutputFileNameThread stopped(List, "s<n>", Settings, [&](uint32_t Msg, uint64_t) { message = Msg; }, nullptr, &suspend);
  stopped.Resume();
  stopped.Terminate();
  stopped.WaitFor();
  EXPECT_EQ(message.load(), WM_NAMES_STOPPED);
  EXPECT_TRUE(stopped.Totals().Stopped);
}
