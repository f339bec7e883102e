// The batch controller with real workers on generated photos: two workers
// and a stop request, entries without a usable source, progress that ends
// full, the elapsed-time text, page blocks that go with their file, and one
// log line per broken file.
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "core/IniFile.h"
#include "core/ImgInfo.h"
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

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
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
    SavedMetadata = MetadataOption;
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
    MetadataOption = SavedMetadata;
    fs::remove_all(Dir);
  }
  // Photos with Exif; with a comment they also carry an extra segment.
  void AddPhotos(int Count, bool WithComment = false) {
    fs::create_directories(Dir + "/in");
    for (int i = 1; i <= Count; ++i) {
      TSamplePhotoSpec Desc;
      Desc.Width = 640;
      Desc.Height = 480;
      Desc.Seed = uint32_t(i);
      Desc.DateTimeOriginal = "2013:07:04 12:00:00";
      const std::string Path = Dir + "/in/P" + std::to_string(i) + ".jpg";
      WriteSamplePhoto(Path, Desc);
      if (WithComment) {
        std::string Bytes = ReadBytes(Path);
        Bytes.insert(2, std::string("\xFF\xFE\x00\x07hello", 9));
        WriteBytes(Path, Bytes);
      }
      AddEntry(Path);
    }
  }
  void AddEntry(const std::string &Path) {
    auto E = std::make_unique<TImageInfo>();
    ASSERT_TRUE(ProbeImageFile(Path, *E)) << Path;
    E->Checked = true;
    List.Add(std::move(E));
  }
  static std::string ReadBytes(const std::string &Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  }
  static void WriteBytes(const std::string &Path, const std::string &Bytes) {
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
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
  TMetadataOption SavedMetadata;
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
// and the pause has lasted 600 ms. The pause request is queued for the main
// thread, so a worker that finishes a file waits until the pause is in
// effect: however late the main thread gets to the request, a file started
// after it is one the pause let through, never one the worker took first.
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
    {
      std::lock_guard Lock(PauseLock);
      PauseInEffect = PauseInEffect || Paused;
    }
    PauseCond.notify_all();
  }
  // On the worker's own thread, before it looks for its next file.
  void FileFinished(const TFileReport &) override {
    std::unique_lock Lock(PauseLock);
    if (!PauseCond.wait_for(Lock, std::chrono::seconds(60), [this] { return PauseInEffect; })) PauseNeverCame = true;
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
  std::mutex PauseLock;
  std::condition_variable PauseCond;
  bool PauseInEffect = false, PauseNeverCame = false;
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
  EXPECT_FALSE(View.PauseNeverCame) << "a file was finished and no pause took effect within 60 s";
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
  // Before the naming pass has begun.
  void NamingStarted() override { FileOption.StartNumber = 50; }
  void EntryStarted(const std::string &Text) override {
    if (Text.empty() || Edited) return;
    Edited = true;
    MetadataOption = TMetadataOption{};
    MetadataOption.KeepResolution = false;
    MetadataOption.Resolution = 300;
    JPEGOption = TJPEGOption{};
    JPEGOption.Quality = 5;
    JPEGOption.AddExifInfo = false;  // the loader would drop the sources' Exif
    JPEGOption.DCTMethod = 1;
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
// reset) while it runs reach neither the naming pass, nor the loader, nor the
// savers, nor the resize step, nor the worker's source deletion.
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
  FileOption.FileNameFormat = Dir + "/out/<n2>_<old>";
  FileOption.StartNumber = 1;
  FileOption.ResetType = 0;
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
  // The numbers start where StartNumber stood when the run started.
  EXPECT_EQ(Outputs(), (std::set<std::string>{"01_P1.jpg", "02_P2.jpg", "03_P3.jpg", "04_P4.jpg"}));
  for (int i = 1; i <= 4; ++i)  // DeleteInputFile was off when the run started
    EXPECT_TRUE(fs::exists(Dir + "/in/P" + std::to_string(i) + ".jpg"));
  for (const auto &Name : Outputs()) {
    SCOPED_TRACE(Name);
    const std::string Path = Dir + "/out/" + Name;
    EXPECT_EQ(ExifToolValue("JFIF:XResolution", Path), "150");
    EXPECT_EQ(ExifToolValue("ImageWidth", Path), "1000");
    EXPECT_EQ(CommandOutput("identify -format %Q '" + Path + "'"), "95");  // ImageMagick's quality estimate
    EXPECT_EQ(ExifToolValue("DateTimeOriginal", Path), "2013:07:04 12:00:00");  // AddExifInfo was on
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

// Every block a file's conversion takes (pixels, Exif, extra segments) goes
// with the file: once the run has ended and returned the blocks it kept for
// the next files, the allocator holds what it held before.
TEST_F(BatchRun, NoPageBlockOutlivesItsFile) {
  MetadataOption.KeepAllExtraMarker = 1;
  AddPhotos(6, true);
  ReleasePageCache();
  const TPageBlockCount Before = LivePageBlocks();
  TCountingView View;
  {
    TProgressForm Form(List, Effects, &View);
    ASSERT_EQ(Form.ShowModal(), MR_OK);
  }
  EXPECT_EQ(ErrorLogForm().GetErrorCount(), 0);
  const TPageBlockCount After = LivePageBlocks();
  EXPECT_EQ(After.Blocks, Before.Blocks);
  EXPECT_EQ(After.Bytes, Before.Bytes);
  // The outputs carry what the blocks held, so the blocks were really made.
  ASSERT_EQ(Outputs().size(), 6u);
  const std::string Out = ReadBytes(Dir + "/out/P1.jpg");
  EXPECT_NE(Out.find("Exif"), std::string::npos);
  EXPECT_NE(Out.find("hello"), std::string::npos);
}

// A broken file gives exactly one line in the log: its name, ": ", the
// system's message and the reason in parentheses; the other files convert.
TEST_F(BatchRun, EachBrokenFileGivesOneLogLineWithItsReason) {
  AddPhotos(1);
  const std::string Photo = ReadBytes(Dir + "/in/P1.jpg");
  // A PNG whose header chunk is damaged, and a BMP whose pixels are missing.
  const std::string Png = std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR", 16) +
                          std::string("\x00\x00\x00\x10\x00\x00\x00\x10\x08\x02\x00\x00\x00", 13) +
                          std::string(300, '\xAB');
  std::string Bmp(54, '\0');
  Bmp[0] = 'B', Bmp[1] = 'M', Bmp[14] = 40, Bmp[18] = 16, Bmp[22] = 16, Bmp[26] = 1, Bmp[28] = 24;
  struct TCase {
    std::string Name, Bytes, Reason;  // Reason: a pattern for the text in parentheses
  };
  const std::vector<TCase> Cases = {
      {"cut.jpg", Photo.substr(0, Photo.size() / 2), "JPEG: .+"},
      {"garbage.png", Png, "PNG: .+"},
      {"nopixels.bmp", Bmp, "画像ファイルが壊れています \\(the pixel data offset lies outside the file\\)"},
  };
  for (const TCase &C : Cases) {
    WriteBytes(Dir + "/in/" + C.Name, C.Bytes);
    AddEntry(Dir + "/in/" + C.Name);
  }
  {
    TCountingView View;
    TProgressForm Form(List, Effects, &View);
    EXPECT_EQ(Form.ShowModal(), MR_OK);
  }
  const std::vector<std::string> Lines = ErrorLogForm().Messages();
  for (const TCase &C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::regex Form("^" + std::regex_replace(C.Name, std::regex("\\."), "\\.") +
                          ": Loadに失敗しました \\(" + C.Reason + "\\)$");
    const auto Count = std::count_if(Lines.begin(), Lines.end(),
                                     [&C](const std::string &L) { return L.find(C.Name) != std::string::npos; });
    EXPECT_EQ(Count, 1);
    EXPECT_TRUE(std::any_of(Lines.begin(), Lines.end(), [&Form](const std::string &L) { return std::regex_match(L, Form); }));
  }
  EXPECT_EQ(Lines.size(), Cases.size()) << ::testing::PrintToString(Lines);
  EXPECT_EQ(Outputs(), std::set<std::string>{"P1.jpg"});
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
