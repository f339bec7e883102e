// The batch controller with real workers on generated photos: two workers
// and a stop request, entries without a usable source, progress that ends
// full, and the elapsed-time text.
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "core/IniFile.h"
#include "effects/Effect.h"
#include "batch/ErrorLogFrm.h"
#include "resample/Filter.h"
#include "io/FormatOption.h"
#include "batch/ImageInfo.h"
#include "io/ImageProbe.h"
#include "batch/MTResizeThread.h"
#include "io/Pixio.h"
#include "batch/ProgressFrm.h"
#include "resample/Resize.h"
#include "resample/WeightedMean.h"
#include "batch/SamplePhotos.h"
#include "batch/TerminalView.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

class BatchRun : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    SystemOption.ProcessorCount = 2;
    CreateBatchObjects(2);
  }
  static void TearDownTestSuite() {
    FreeBatchObjects();
    FreePixio();
  }
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-batchrun-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    SavedFile = FileOption;
    SavedSystem = SystemOption;
    CreateDefaultEffects(Effects, TESSIVO_BIN_DIR);
    Effects.SetResizeParam(1, 96, 0);  // long side 96
    FileOption.FileNameFormat = Dir + "/out/<old>";
    FileOption.SameDirectory = false;
    SystemOption.MaxThread = 2;
    SystemOption.ParallelProcessing = true;
    ErrorLogForm().ClearLog();
  }
  void TearDown() override {
    FileOption = SavedFile;
    SystemOption = SavedSystem;
    fs::remove_all(Dir);
  }
  void AddPhotos(int Count) {
    fs::create_directories(Dir + "/in");
    for (int i = 1; i <= Count; ++i) {
      TSamplePhotoSpec Desc;
      Desc.Width = 640;
      Desc.Height = 480;
      Desc.Seed = uint32_t(i);
      Desc.DateTimeOriginal = "2013:07:04 12:00:00";
      const std::string Path = Dir + "/in/P" + std::to_string(i) + ".jpg";
      WriteSamplePhoto(Path, Desc);
      auto E = std::make_unique<TImageInfo>();
      ASSERT_TRUE(ProbeImageFile(Path, *E));
      E->Checked = true;
      List.Add(std::move(E));
    }
  }
  std::set<std::string> Outputs() const {
    std::set<std::string> Names;
    if (fs::exists(Dir + "/out"))
      for (const auto &E : fs::directory_iterator(Dir + "/out")) Names.insert(E.path().filename().string());
    return Names;
  }

  std::string Dir;
  TFileOption SavedFile;
  TSystemOption SavedSystem;
  TEffectList Effects;
  TImageInfoList List;
};

// Stops the run once both workers have started a file.
class TStopAfterTwoStarts : public TProgressView {
public:
  void EntryStarted(const std::string &Text) override {
    if (Text.empty()) return;
    Started.insert(Text);
    if (Started.size() == 2 && Form) Form->Stop();
  }
  TProgressForm *Form = nullptr;
  std::set<std::string> Started;
};

// Pauses at the first file and resumes once the files in progress are done
// and the pause has lasted 600 ms.
class TPauseOnce : public TProgressView {
public:
  void EntryStarted(const std::string &Text) override {
    if (Text.empty()) return;
    ++Starts;
    if (!Asked) {
      Asked = true;
      Form->TogglePause();
    }
  }
  void PauseChanged(bool Paused) override {
    if (Paused) PausedAt = MillisecondClock();
    else Resumed = true;
  }
  void Idle(const TProgressSnapshot &S) override {
    if (PausedAt && !Resumed && MillisecondClock() > PausedAt + 600 && S.FilesDone == Starts) {
      StartsAtResume = Starts;
      Form->TogglePause();
    }
  }
  TProgressForm *Form = nullptr;
  bool Asked = false, Resumed = false;
  uint64_t PausedAt = 0;
  int Starts = 0, StartsAtResume = 0;
};

class TCountingView : public TProgressView {
public:
  void ConvertStarted(int32_t Count, int32_t W) override {
    Files = Count;
    Workers = W;
  }
  void Closed(int32_t Result, const std::string &Text) override {
    ModalResult = Result;
    ResultText = Text;
  }
  int32_t Files = 0, Workers = 0, ModalResult = 0;
  std::string ResultText;
};

}  // namespace

TEST_F(BatchRun, TwoWorkersFinishTheirFilesOnAStopAndStartNoOther) {
  AddPhotos(8);
  TStopAfterTwoStarts View;
  TProgressForm Form(List, Effects, &View);
  View.Form = &Form;
  EXPECT_EQ(Form.ShowModal(), MR_CANCEL);
  EXPECT_TRUE(Form.Canceled);
  // The files in progress when the stop came (the two reported ones, and at
  // most one more that the first worker had already taken) were written,
  // completely; nothing else was started.
  ASSERT_GE(View.Started.size(), 2u);
  EXPECT_LE(View.Started.size(), 3u);
  EXPECT_EQ(Outputs(), View.Started);
  EXPECT_EQ(Form.Snapshot().FilesDone, int32_t(View.Started.size()));
  for (const auto &Name : Outputs()) {
    TImageProbe P;
    ASSERT_TRUE(ProbeImageFile(Dir + "/out/" + Name, P));
    EXPECT_EQ(P.Width, 96);
    EXPECT_EQ(P.Height, 72);
  }
  EXPECT_EQ(ErrorLogForm().GetErrorCount(), 0);
}

TEST_F(BatchRun, WorkersNeverOutnumberFilesAndVanishedSourcesAreSkipped) {
  AddPhotos(3);
  SystemOption.MaxThread = 4;
  TCountingView View;
  {
    TProgressForm Form(List, Effects, &View);
    // A source that disappears after naming is not handed out.
    fs::remove(Dir + "/in/P2.jpg");
    EXPECT_EQ(Form.ShowModal(), MR_OK);
    EXPECT_EQ(Form.Snapshot().Position, PROGRESS_BAR_MAX);
    EXPECT_EQ(Form.Snapshot().FilesDone, 2);
  }
  EXPECT_EQ(View.Files, 2);
  EXPECT_EQ(View.Workers, 2);
  EXPECT_EQ(Outputs(), (std::set<std::string>{"P1.jpg", "P3.jpg"}));
  EXPECT_EQ(View.ModalResult, MR_OK);
  EXPECT_FALSE(View.ResultText.empty());
}

TEST_F(BatchRun, PauseLetsFilesInProgressFinishAndStartsNoOther) {
  AddPhotos(6);
  TPauseOnce View;
  TProgressForm Form(List, Effects, &View);
  View.Form = &Form;
  EXPECT_EQ(Form.ShowModal(), MR_OK);
  EXPECT_TRUE(View.Resumed);
  // Only the two workers' files in progress when the pause came were started.
  EXPECT_GE(View.StartsAtResume, 1);
  EXPECT_LE(View.StartsAtResume, 2);
  EXPECT_EQ(View.Starts, 6);
  EXPECT_EQ(Outputs().size(), 6u);
}

// Every worker, the only one of a run too, resizes on copies of its own: the
// program-wide resizer is a prototype that nothing runs on, so a list
// thumbnail or a preview can use its own engines at the same time.
TEST_F(BatchRun, WorkersResizeOnTheirOwnEnginesNeverOnTheProgramWideOnes) {
  AddPhotos(3);
  for (const int32_t Workers : {1, 2}) {
    SCOPED_TRACE(std::to_string(Workers) + " workers");
    fs::remove_all(Dir + "/out");
    SystemOption.MaxThread = Workers;
    SystemOption.ParallelProcessing = Workers > 1;
    const uint64_t Rebuilds = MainResizer->RebuildCount();
    TProgressForm Form(List, Effects);
    EXPECT_EQ(Form.ShowModal(), MR_OK);
    EXPECT_EQ(Form.Snapshot().Workers, Workers);
    EXPECT_EQ(Outputs().size(), 3u);
    EXPECT_EQ(MainResizer->RebuildCount(), Rebuilds);
  }
  EXPECT_EQ(ErrorLogForm().GetErrorCount(), 0);
}

// Edits the program-wide records as soon as the first file starts, the way
// a settings window may while a run (or a preview) is being computed.
class TEditSettingsWhenRunning : public TProgressView {
public:
  void EntryStarted(const std::string &Text) override {
    if (Text.empty() || Edited) return;
    Edited = true;
    MetadataOption = TMetadataOption{};
    MetadataOption.KeepResolution = false;
    MetadataOption.Resolution = 300;
    JPEGOption = TJPEGOption{};
    JPEGOption.Quality = 5;
    ResizeOption = TResizeOption{};
    ResizeOption.NoExpand = true;
    FileOption.DeleteInputFile = LongTrue;
    Background = 0x000000;
  }
  bool Edited = false;
};

std::string CommandOutput(const std::string &Command) {
  std::string Out;
  if (FILE *P = ::popen((Command + " 2>/dev/null").c_str(), "r")) {
    char Buf[256];
    while (std::fgets(Buf, sizeof Buf, P)) Out += Buf;
    ::pclose(P);
  }
  while (!Out.empty() && (Out.back() == '\n' || Out.back() == '\r')) Out.pop_back();
  return Out;
}

std::string ExifToolValue(const std::string &Tag, const std::string &Path) {
  return CommandOutput("exiftool -s3 -" + Tag + " '" + Path + "'");
}

// A run works from the settings it took when it started: records edited (or
// reset) while it runs reach neither the savers, nor the resize step, nor the
// worker's source deletion.
TEST_F(BatchRun, OutputsFollowTheSettingsTakenWhenTheRunStarted) {
  if (std::system("exiftool -ver >/dev/null 2>&1") != 0 || std::system("identify -version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "exiftool or ImageMagick missing";
  const TMetadataOption SavedMetadata = MetadataOption;
  const TJPEGOption SavedJPEG = JPEGOption;
  const TResizeOption SavedResize = ResizeOption;
  const uint32_t SavedBackground = Background;
  AddPhotos(4);
  MetadataOption.KeepResolution = false;
  MetadataOption.Resolution = 150;
  JPEGOption.Quality = 95;
  JPEGOption.OmitAPP0Marker = 0;  // the density is read from the JFIF segment
  ResizeOption.NoExpand = false;
  Effects.SetResizeParam(1, 1000, 0);  // long side 1000: the 640 x 480 photos grow
  SystemOption.MaxThread = 1;
  SystemOption.ParallelProcessing = false;
  TEditSettingsWhenRunning View;
  {
    TProgressForm Form(List, Effects, &View);
    EXPECT_EQ(Form.ShowModal(), MR_OK);
  }
  const TMetadataOption EditedMetadata = MetadataOption;
  MetadataOption = SavedMetadata;
  JPEGOption = SavedJPEG;
  ResizeOption = SavedResize;
  Background = SavedBackground;
  ASSERT_TRUE(View.Edited);
  EXPECT_EQ(EditedMetadata.Resolution, 300);
  ASSERT_EQ(Outputs().size(), 4u);
  for (const auto &Name : Outputs()) {
    SCOPED_TRACE(Name);
    const std::string Path = Dir + "/out/" + Name;
    EXPECT_EQ(ExifToolValue("JFIF:XResolution", Path), "150");
    EXPECT_EQ(ExifToolValue("ImageWidth", Path), "1000");
    EXPECT_EQ(CommandOutput("identify -format %Q '" + Path + "'"), "95");  // ImageMagick's quality estimate
    EXPECT_TRUE(fs::exists(Dir + "/in/" + Name));  // DeleteInputFile was off when the run started
  }
  EXPECT_EQ(ErrorLogForm().GetErrorCount(), 0);
}

// The background colour is one setting: the key "Background" of section
// "System" is what every run flattens onto.
TEST(RunSettings, BackgroundFromTheSettingsFileReachesTheRun) {
  const TRunSettings Saved = CurrentRunSettings();
  const TPreviewOption SavedPreview = PreviewOption;
  const TSPIOption SavedSPI = SPIOption;
  TMemIniFile Ini;
  Ini.WriteInteger("System", "Background", 0x123456);
  ReadConvertSettings(Ini);
  EXPECT_EQ(CurrentRunSettings().Formats.Background, 0x123456u);
  TMemIniFile Out;
  WriteConvertSettings(Out);
  EXPECT_EQ(Out.ReadInteger("System", "Background", 0), 0x123456);
  SystemOption = Saved.System;
  FileOption = Saved.File;
  ResizeOption = Saved.Resize;
  ColorManagementOption = Saved.ColorManagement;
  ConvertMode = Saved.ConvertMode;
  Background = Saved.Formats.Background;
  PreviewOption = SavedPreview;
  SPIOption = SavedSPI;
}

TEST(EngineSet, EachConsumerGetsItsOwnPoolAndCopiesSizedToIt) {
  CreateBatchObjects(4);
  const std::unique_ptr<TEngineSet> Run = TEngineSet::FromPrototypes();
  EXPECT_EQ(Run->MT, nullptr);  // the run's set is only copied from
  const std::unique_ptr<TEngineSet> A = Run->CreateFor(3), B = Run->CreateFor(3);
  for (const TEngineSet *S : {A.get(), B.get()}) {
    ASSERT_NE(S->MT, nullptr);
    EXPECT_EQ(S->MT->MaxThread(), 3);
    EXPECT_EQ(S->Resizer->MaxThreadNum, 3);
    EXPECT_EQ(S->UnSharpMask->FMaxThread, 3);
    EXPECT_EQ(S->GaussianBlur->FMaxThread, 3);
    for (const TResizer *R : {S->Resizer.get(), S->Antialiasing.get(), S->ThumbnailResizer.get()})
      for (const TResizer *Shared : {::MainResizer, ::AntialiasingResizer, ::ThumbnailResizer}) EXPECT_NE(R, Shared);
    EXPECT_NE(S->UnSharpMask.get(), ProgramUnsharpMask);
    EXPECT_NE(S->GaussianBlur.get(), ProgramGaussianBlur);
  }
  EXPECT_NE(A->MT, B->MT);
  EXPECT_NE(A->Resizer, B->Resizer);
  EXPECT_NE(A->UnSharpMask, B->UnSharpMask);
  EXPECT_NE(A->ColorTransform, B->ColorTransform);
  TEffectParams P;
  A->Bind(P);
  EXPECT_EQ(P.MT, A->MT.get());
  EXPECT_EQ(P.Resizer, A->Resizer.get());
  EXPECT_EQ(P.ThumbnailResizer, A->ThumbnailResizer.get());
  EXPECT_EQ(P.ColorTransform, A->ColorTransform.get());
  // Kernels chosen after the run started reach only later runs.
  const uint32_t Before = Run->Resizer->DecimationMode;
  ConfigureMainResizer(RESIZE_BICUBIC, 2, RESIZE_SPLINE36, 0, std::nullopt, false);
  EXPECT_EQ(Run->CreateFor(1)->Resizer->DecimationMode, Before);
  EXPECT_EQ(TEngineSet::FromPrototypes()->Resizer->DecimationMode, uint32_t(RESIZE_BICUBIC));
  FreeBatchObjects();
}

TEST(BatchText, ElapsedTime) {
  EXPECT_EQ(ElapsedTimeText(850), "850ms");
  EXPECT_EQ(ElapsedTimeText(999), "999ms");
  EXPECT_EQ(ElapsedTimeText(1000), "1.00s");
  EXPECT_EQ(ElapsedTimeText(12340), "12.34s");
}

TEST(BatchText, TerminalLine) {
  TProgressSnapshot S;
  S.FilesDone = 5;
  S.FilesTotal = 20;
  S.PixelsDone = 120e6;
  S.ElapsedMs = 4000;
  S.Position = PROGRESS_BAR_MAX / 4;
  S.Label = "IMG_0006.jpg";
  const std::string Line = TTerminalView::FormatLine(S, 120);
  EXPECT_NE(Line.find("5/20 files"), std::string::npos) << Line;
  EXPECT_NE(Line.find("30.0 MPix/s"), std::string::npos) << Line;
  EXPECT_NE(Line.find("00:04 elapsed"), std::string::npos) << Line;
  EXPECT_NE(Line.find("~00:12 left"), std::string::npos) << Line;  // a quarter took 4 s
  EXPECT_NE(Line.find("IMG_0006.jpg"), std::string::npos) << Line;
  EXPECT_LT(TTerminalView::FormatLine(S, 40).size(), 100u);  // a narrow terminal drops the name
  EXPECT_EQ(FormatClock(3723000), "1:02:03");
}

TEST(BatchText, SourceDeletionNeedsADifferentCompleteOutput) {
  char Tmpl[] = "/tmp/tessivo-delete-XXXXXX";
  const std::string D = ::mkdtemp(Tmpl);
  auto Write = [](const std::string &P, const std::string &T) { std::ofstream(P) << T; };
  Write(D + "/a.jpg", "source");
  Write(D + "/b.jpg", "output");
  Write(D + "/empty.jpg", "");
  fs::create_hard_link(D + "/a.jpg", D + "/same.jpg");
  EXPECT_TRUE(MayDeleteSource(D + "/a.jpg", D + "/b.jpg"));
  EXPECT_FALSE(MayDeleteSource(D + "/a.jpg", D + "/A.JPG"));      // only the case differs
  EXPECT_FALSE(MayDeleteSource(D + "/a.jpg", D + "/missing.jpg"));
  EXPECT_FALSE(MayDeleteSource(D + "/a.jpg", D + "/empty.jpg"));
  EXPECT_FALSE(MayDeleteSource(D + "/a.jpg", D + "/same.jpg"));   // the source under another name
  fs::remove_all(D);
}
