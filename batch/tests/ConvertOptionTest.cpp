#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "resample/Resize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TMemIniFile FromText(const std::string &Text) {
  TMemIniFile ini;
  ini.LoadFromBytes(Text);
  return ini;
}

TEST(ConvertOption, ThreadCounts) {
  struct Case {
    int32_t processors, storedMax;
    bool storedParallel;
    int32_t maxThread;
    bool parallel;
  } cases[] = {
      {8, 0, true, 4, true},    // automatic: at most 4 files at once
      {2, 0, true, 2, true},
      {8, 1, true, 1, false},   // one file at a time switches parallel work off
      {8, 12, true, 8, true},   // never more than the processors
      {8, -3, true, 4, true},
      {1, 0, true, 1, false},
      {8, 3, false, 3, false},
  };
  for (const Case &c : cases) {
    TSystemOption o;
    o.ProcessorCount = c.processors;
    ApplySystemThreadRules(o, c.storedMax, c.storedParallel);
    EXPECT_EQ(o.MaxThread, c.maxThread) << c.processors << "/" << c.storedMax;
    EXPECT_EQ(o.ParallelProcessing, c.parallel) << c.processors << "/" << c.storedMax;
  }

  struct Pool {
    int32_t processors, workers, threads;
  } pools[] = {{8, 4, 8}, {8, 8, 4}, {2, 2, 2}, {8, 1, 8}, {8, 3, 8}, {8, 6, 5}, {4, 4, 4}};
  for (const Pool &p : pools) {
    TSystemOption o;
    o.ProcessorCount = p.processors;
    EXPECT_EQ(BatchWorkerPoolSize(o, p.workers), p.threads) << p.processors << "/" << p.workers;
  }

  TSystemOption o;
  o.ProcessorCount = 8;
  ApplySystemThreadRules(o, 4, true);
  EXPECT_EQ(BatchWorkerCount(o, 100), 4);
  EXPECT_EQ(BatchWorkerCount(o, 2), 2);  // never more workers than files
  EXPECT_EQ(BatchWorkerCount(o, 0), 1);
  o.ParallelProcessing = false;
  EXPECT_EQ(BatchWorkerCount(o, 100), 1);

  EXPECT_EQ(ResizeThreadCountOf(6, 8), 6u);
  EXPECT_EQ(ResizeThreadCountOf(0, 8), 8u);  // a hand-edited 0 would leave no thread
}

TEST(ConvertOption, TemplatesAndOutputFolder) {
  EXPECT_TRUE(IsAbsoluteTemplate("/out/<old>"));
  EXPECT_FALSE(IsAbsoluteTemplate("resize/<old>"));
  EXPECT_FALSE(IsAbsoluteTemplate(""));

  struct Case {
    const char *stored;
    bool storedSameDirectory;
    const char *outputDirectory;
    const char *format;
    bool sameDirectory;
  } cases[] = {
      {"/out/<old>", true, "/pics", "/out/<old>", false},              // absolute whatever is stored
      {"resize\\<old>", false, "/pics", "/pics/resize/<old>", false},  // made absolute under the folder
      {"resize\\<old>", false, "/pics/", "/pics/resize/<old>", false},
      {"resize\\<old>", true, "/pics", "resize/<old>", true},          // beside each source
  };
  for (const Case &c : cases) {
    TFileOption o;
    o.OutputDirectory = c.outputDirectory;
    ApplyStoredTemplate(o, c.stored, c.storedSameDirectory);
    EXPECT_EQ(o.FileNameFormat, c.format) << c.stored;
    EXPECT_EQ(o.SameDirectory, c.sameDirectory) << c.stored;
  }

  struct Split {
    const char *format, *outputDirectory, *folder, *name;
  } splits[] = {
      {"/out/<yyyy>/<old>", "", "/out/", "<yyyy>/<old>"},
      {"/out/sub/name.jpg", "", "/out/sub/", "name.jpg"},  // no "<": the last delimiter
      {"/out/a<b>/c", "", "/out/", "a<b>/c"},
      {"/<old>", "", "/", "<old>"},
      {"resize/<old>", "/pics", "/pics/", "resize/<old>"},  // relative: the folder and the whole template
  };
  for (const Split &s : splits) {
    TFileOption o;
    o.OutputDirectory = s.outputDirectory;
    SetTemplateText(o, s.format);
    const TTemplateSplit r = SplitTemplate(o);
    EXPECT_EQ(r.Folder, s.folder) << s.format;
    EXPECT_EQ(r.Name, s.name) << s.format;
  }

  TFileOption o;
  SetTemplateText(o, "resize/<old>");
  EXPECT_TRUE(o.SameDirectory);
  SetTemplateText(o, "/out/<yyyy>/<old>");
  EXPECT_FALSE(o.SameDirectory);
  ChooseOutputFolder(o, "/new/place");
  EXPECT_EQ(o.FileNameFormat, "/new/place/<yyyy>/<old>");
  EXPECT_EQ(o.OutputDirectory, "/new/place");
  EXPECT_FALSE(o.SameDirectory);
}

TEST(ConvertOption, ConvertModeAndPriority) {
  struct Case {
    bool rename, jpegtran, combine;
    int32_t mode;
  } cases[] = {
      {false, false, false, CONVERT_MODE_NORMAL}, {true, true, true, CONVERT_MODE_RENAME},
      {false, true, true, CONVERT_MODE_JPEGTRAN}, {false, false, true, CONVERT_MODE_COMBINE},
  };
  for (const Case &c : cases) {
    TConvertModeSwitches s{c.rename, c.jpegtran, c.combine};
    EXPECT_EQ(DeriveConvertMode(s), c.mode);
    // The switches are left consistent: exactly the mode's own is on.
    const TConvertModeSwitches expect = SwitchesOfConvertMode(c.mode);
    EXPECT_EQ(s.RenameOnly, expect.RenameOnly);
    EXPECT_EQ(s.JPEGTranUse, expect.JPEGTranUse);
    EXPECT_EQ(s.CombineUse, expect.CombineUse);
  }

  const struct {
    int32_t priority, nice;
  } priorities[] = {{0, 19}, {1, 10}, {2, 0}, {3, -5}, {4, -10}, {5, 0}, {-1, 0}};
  for (const auto &p : priorities) EXPECT_EQ(NiceValueOf(PriorityClassOf(p.priority)), p.nice) << p.priority;
}

TEST(ConvertOption, PriorityReachesThreadsStartedBefore) {
  // In a child, so that the test process keeps its own priority.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::mutex m;
    std::condition_variable cv;
    pid_t tid = 0;
    bool done = false;
    std::thread pool([&] {
      std::unique_lock<std::mutex> l(m);
      tid = pid_t(syscall(SYS_gettid));
      cv.notify_all();
      cv.wait(l, [&] { return done; });
    });
    {
      std::unique_lock<std::mutex> l(m);
      cv.wait(l, [&] { return tid != 0; });
    }
    const bool applied = ApplyProcessPriority(1);
    errno = 0;
    const int threadNice = getpriority(PRIO_PROCESS, id_t(tid));
    const int ownNice = getpriority(PRIO_PROCESS, 0);
    {
      std::lock_guard<std::mutex> l(m);
      done = true;
    }
    cv.notify_all();
    pool.join();
    _exit(applied && threadNice == 10 && ownNice == 10 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ConvertOption, ResizeKernelsReachTheResizer) {
  TCreatedWeightSetter a = CreateWeightSetter(RESIZE_AREA_AVERAGE, 0);
  TCreatedWeightSetter s = CreateWeightSetter(RESIZE_SPLINE36, 0);
  TResizer r(RESIZE_AREA_AVERAGE, a.Setter, a.IsLimited, RESIZE_SPLINE36, s.Setter, s.IsLimited);
  TResizeOption o;

  // Bicubic: c = (s + 4) / 12, b = 1 - 2c clamped at 0; limited exactly when b = 0.
  const struct {
    int32_t sharp;
    double b, c;
  } bicubic[] = {{0, 1.0 / 3, 1.0 / 3}, {2, 0, 0.5}, {-4, 1, 0}, {8, 0, 1}};
  for (const auto &k : bicubic) {
    o.DecimationSharp = k.sharp;
    ApplyResizeKernels(r, o, RESIZE_BICUBIC, 0, 0);
    const auto *mn = dynamic_cast<const TMitchellNetravali *>(r.DecimationWeightSetter);
    ASSERT_NE(mn, nullptr);
    EXPECT_NEAR(mn->b, k.b, 1e-12) << k.sharp;
    EXPECT_NEAR(mn->c, k.c, 1e-12) << k.sharp;
    EXPECT_EQ(r.IsLimitedDecimation != 0, k.b == 0) << k.sharp;
  }

  const struct {
    int32_t mode, radius;
    bool limited;
  } limited[] = {{RESIZE_LANCZOS, 1, false}, {RESIZE_LANCZOS, 3, true},      {RESIZE_BLACKMAN_SINC, 1, false},
                 {RESIZE_BLACKMAN_SINC, 4, true}, {RESIZE_SPLINE16, 0, true}, {RESIZE_SPLINE36, 0, true},
                 {RESIZE_BILINEAR, 0, false},    {RESIZE_GAUSSIAN, 0, false}, {RESIZE_NEAREST_NEIGHBOR, 0, false}};
  for (const auto &k : limited) {
    o.InterpolationRadius = k.radius;
    ApplyResizeKernels(r, o, 0, k.mode, 0);
    EXPECT_EQ(r.InterpolationMode, uint32_t(k.mode));
    EXPECT_EQ(r.IsLimitedInterpolation != 0, k.limited) << k.mode << "/" << k.radius;
  }

  // Out of range leaves that part as it is; area averaging is for reduction only.
  const TWeightSetter *dec = r.DecimationWeightSetter, *inter = r.InterpolationWeightSetter;
  ApplyResizeKernels(r, o, 10, RESIZE_AREA_AVERAGE, 0);
  EXPECT_EQ(r.DecimationWeightSetter, dec);
  EXPECT_EQ(r.InterpolationWeightSetter, inter);
  EXPECT_EQ(r.SIMDMode, uint32_t(SIMD_MODE_INTEGER));

  o.Degamma = true;
  ApplyResizeKernels(r, o, 0, 0, SIMD_MODE_FLOAT);
  EXPECT_EQ(r.SIMDMode, uint32_t(SIMD_MODE_FLOAT));
  EXPECT_TRUE(r.LinearColorSpace);

  FreeProgramResizers();
  EXPECT_THROW(ApplyResizeKernels(RESIZE_LANCZOS, 0, 0), ETessivoError);
}

TEST(ConvertOptionIni, ReadsHandWrittenValues) {
  const TMemIniFile ini = FromText(
      "[System]\nMaxThread=0\nParallel=1\nPriority=1\nCustomPalette3=255\nBackground=$FF\n"
      "[Stsrem]\nNotifySound=1\n"
      "[File]\nFileNameFormat=resize\\<old>\nSameDirectory=0\nOutPutDirectory=/home/u/pics\n"
      "TargetExt=.jpg,.PNG\nRenameOnly=0\n"
      "[Resize]\nRule=20\nSIMD=1\nSize1=10,20.5,30\nHistory=7,800,600\nMaxThread=0\nDecimationType=4\n"
      "[Preview]\nWidth=5000\nHeight=700\n"
      "[JPEGTran]\nUse=1\n[Combine]\nUse=1\n");
  TSystemOption sys;
  sys.ProcessorCount = 8;
  uint32_t background = 0;
  ReadSystemOption(ini, sys, background);
  EXPECT_EQ(sys.MaxThread, 4);
  EXPECT_TRUE(sys.ParallelProcessing);
  EXPECT_EQ(sys.ProcessPriority, 1);
  EXPECT_EQ(sys.CustomPalette[2], 255);
  EXPECT_EQ(sys.CustomPalette[0], 16777215);
  EXPECT_EQ(background, 0xFFu);
  EXPECT_NE(sys.Notify, 0);
  EXPECT_EQ(sys.Caption, "%ini");
  EXPECT_NE(sys.UseAVX, 0);

  TFileOption file;
  ReadFileOption(ini, file);
  EXPECT_EQ(file.FileNameFormat, "/home/u/pics/resize/<old>");
  EXPECT_FALSE(file.SameDirectory);
  EXPECT_EQ(file.TargetExt, "jpg,PNG");
  EXPECT_TRUE(file.NotOverwrite);

  TResizeOption resize;
  ReadResizeOption(ini, resize, 8);
  EXPECT_EQ(resize.Rule, 0);
  EXPECT_EQ(resize.SIMDMode, int32_t(SIMD_MODE_INTEGER));
  EXPECT_EQ(resize.Size1[0], 10);
  EXPECT_EQ(resize.Size1[1], 20.5);
  EXPECT_EQ(resize.Size1[2], 30);
  EXPECT_EQ(resize.Size1[3], 512);  // the rest keep their defaults
  EXPECT_EQ(resize.Size2[7], 384);
  EXPECT_EQ(resize.History, "\"7,800,600\"");
  EXPECT_EQ(resize.MaxThread, 8u);
  EXPECT_EQ(resize.DecimationMode, 4);
  EXPECT_EQ(resize.InterpolationMode, 7);

  TPreviewOption preview;
  ReadPreviewOption(ini, preview, 1920, 1080);
  EXPECT_EQ(preview.Width, 1920);
  EXPECT_EQ(preview.Height, 700);

  TFileOption f2;
  EXPECT_EQ(ReadConvertMode(ini, f2), CONVERT_MODE_JPEGTRAN);
  EXPECT_FALSE(f2.RenameOnly);
}

TEST(ConvertOptionIni, EmptyFileGivesDefaultsAndWritingReadsBack) {
  const TMemIniFile empty;
  TSystemOption sys;
  sys.ProcessorCount = 2;
  uint32_t background = 0;
  ReadSystemOption(empty, sys, background);
  TFileOption file;
  ReadFileOption(empty, file);
  TResizeOption resize;
  ReadResizeOption(empty, resize, 2);
  TPreviewOption preview;
  ReadPreviewOption(empty, preview);
  TColorManagementOption cms;
  ReadColorManagementOption(empty, cms);
  EXPECT_EQ(background, 0xFFFFFFu);
  EXPECT_EQ(sys.MaxThread, 2);
  EXPECT_EQ(file.FileNameFormat, "resize/<old>");
  EXPECT_TRUE(file.SameDirectory);
  EXPECT_EQ(file.TargetExt, "jpg,png,bmp,tif,gif,ico,wdp,jxr,hdp");
  EXPECT_EQ(resize.History, "\"8,640,480\",\"0,50,50\"");
  EXPECT_EQ(resize.DecimationSharp, 2);
  EXPECT_EQ(resize.InterpolationBlur, 11);
  EXPECT_EQ(preview.ViewerOption2, "/getclip /newwnd /user=tessivo");
  EXPECT_NE(cms.Enabled, 0);

  // Changed values survive a write and a read through the bytes of a file.
  sys.Command = "echo \"<dir>\"";
  sys.ProcessPriority = 0;
  sys.Multiple = LongTrue;
  SetTemplateText(file, "/out/<yyyy>/<old>");
  file.StartNumber = 42;
  resize.Size1[5] = 12.25;
  resize.Rule = 13;
  resize.Limiter = true;
  resize.History = "\"7,800,600\"";
  preview.Left = 17;
  cms.RGBProfile = "/usr/share/color/icc/sRGB.icc";
  cms.ColorProfileDir = "/usr/share/color/icc";
  TMemIniFile out;
  WriteSystemOption(out, sys, 0x123456);
  WriteFileOption(out, file);
  WriteResizeOption(out, resize);
  WritePreviewOption(out, preview);
  WriteColorManagementOption(out, cms);
  WriteConvertMode(out, CONVERT_MODE_RENAME);
  const TMemIniFile in = FromText(out.SaveToBytes());
  EXPECT_EQ(in.ReadString("File", "OutPutDirectory", ""), "/out/");

  TSystemOption sys2;
  sys2.ProcessorCount = 2;
  ReadSystemOption(in, sys2, background);
  EXPECT_EQ(sys2.Command, sys.Command);
  EXPECT_EQ(sys2.ProcessPriority, 0);
  EXPECT_NE(sys2.Multiple, 0);
  EXPECT_EQ(background, 0x123456u);
  TFileOption file2;
  ReadFileOption(in, file2);
  EXPECT_EQ(file2.FileNameFormat, "/out/<yyyy>/<old>");
  EXPECT_FALSE(file2.SameDirectory);
  EXPECT_EQ(file2.StartNumber, 42);
  TResizeOption resize2;
  ReadResizeOption(in, resize2, 2);
  EXPECT_EQ(resize2.Size1, resize.Size1);
  EXPECT_EQ(resize2.Size2, resize.Size2);
  EXPECT_EQ(resize2.Rule, 13);
  EXPECT_TRUE(resize2.Limiter);
  EXPECT_EQ(resize2.History, resize.History);
  TPreviewOption preview2;
  ReadPreviewOption(in, preview2);
  EXPECT_EQ(preview2.Left, 17);
  TColorManagementOption cms2;
  ReadColorManagementOption(in, cms2);
  EXPECT_EQ(cms2.RGBProfile, cms.RGBProfile);
  EXPECT_EQ(cms2.ColorProfileDir, cms.ColorProfileDir);
  TFileOption f3;
  EXPECT_EQ(ReadConvertMode(in, f3), CONVERT_MODE_RENAME);
  EXPECT_TRUE(f3.RenameOnly);
  EXPECT_FALSE(in.ReadBool("Combine", "Use", true));
}


TEST(ConvertOptionIni, WindowsProfileKeepsWhatItDoesNotKnow) {
  // Written by the Windows program in CP932 ("画像" in the caption and an
  // unknown key), with a section of another tool in between.
  const std::string cp932 =
      "[System]\r\nCaption=%ini \x89\xE6\x91\x9C\r\nOldKey=\x89\xE6\r\n"
      "[Other Tool]\r\n  spaced = kept  \r\n; comment\r\n"
      "[File]\r\nFileNameFormat=D:\\out\\<old>\r\nSameDirectory=1\r\n";
  TMemIniFile ini = FromText(cp932);
  ASSERT_TRUE(ini.WasLegacyEncoding());
  TSystemOption sys;
  uint32_t background;
  ReadSystemOption(ini, sys, background);
  EXPECT_EQ(sys.Caption, "%ini 画像");
  TFileOption file;
  ReadFileOption(ini, file);
  EXPECT_EQ(file.FileNameFormat, "D:/out/<old>");  // a drive letter is not absolute here
  EXPECT_TRUE(file.SameDirectory);

  WriteSystemOption(ini, sys, background);
  WriteFileOption(ini, file);
  const std::string out = ini.SaveToBytes();
  EXPECT_EQ(out.compare(0, 3, "\xEF\xBB\xBF"), 0);
  EXPECT_NE(out.find("[System]\r\nCaption=%ini 画像\r\nOldKey=画\r\n"), std::string::npos);
  EXPECT_NE(out.find("[Other Tool]\r\n  spaced = kept  \r\n; comment\r\n[File]\r\n"), std::string::npos);
  EXPECT_NE(out.find("FileNameFormat=D:/out/<old>\r\n"), std::string::npos);
  EXPECT_NE(out.find("MaxThread=0\r\n"), std::string::npos);  // new keys take the file's line ends (0: automatic, as read)
}

}  // namespace
