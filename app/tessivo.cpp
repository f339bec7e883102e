// tessivo: the headless runner. Converts the given files and folders with a
// settings profile, unattended, with a progress bar on standard error, and
// prints the error log at the end. Never needs a display.
#include "batch/BatchObjects.h"
#include "app/CommandLine.h"
#include "batch/ConvertOption.h"
#include "effects/FisheyeLibrary.h"
#include "effects/DenoisePass.h"
#include "effects/Effect.h"
#include "batch/ErrorLogFrm.h"
#include "batch/FileNameTemplate.h"
#include "core/Errors.h"
#include "resample/Filter.h"
#include "resample/Resize.h"
#include "resample/WeightedMean.h"
#include "core/IniFile.h"
#include "core/MultiThread.h"
#include "core/ProgramFolder.h"
#include "app/PluginSettings.h"
#include "batch/SusieArchiveHost.h"
#include "io/Pixio.h"
#include "core/RunTempFolder.h"
#include "core/TempFile.h"
#include "batch/CombineOption.h"
#include "batch/ProgressFrm.h"
#include "batch/ProgressFrm2.h"
#include "batch/ProgressFrm3.h"
#include "app/SettingsFile.h"
#include "app/ProfileKeys.h"
#include "batch/MakeOutputFileName.h"
#include "batch/SizeRule.h"
#include "batch/TerminalView.h"
#include "lossless/WembShared.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int EXIT_CLEAN = 0;
constexpr int EXIT_ERRORS = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_START_FAILED = 3;

void PrintHelp() {
  std::printf(
      "usage: tessivo [OPTION]... [/ini=FILE] [/list=FILE] [--] PATH...\n"
      "\n"
      "Converts the image files and folders given as PATH (folders with their\n"
      "subfolders when the profile says so) with the settings of a profile:\n"
      "size rule, output folder and file-name template, output format and the\n"
      "processing steps. Nothing is asked; progress goes to standard error.\n"
      "The options below are laid over the profile for this run only.\n"
      "\n"
      "Profile and input:\n"
      "  /ini=FILE, --ini=FILE    settings profile to use; a bare name is taken\n"
      "                           from the settings folder, a value with \"/\" is\n"
      "                           a path (default: TessivoPlus.ini there)\n"
      "  /list=FILE, --list=FILE  a text file with one input path per line\n"
      "  --                       every later argument is an input path\n"
      "\n"
      "Everyday settings (each sets keys of the profile):\n"
      "  --size SIZE              \"50%%\" a percentage, \"1600\" the long side in\n"
      "                           pixels, \"WxH\" a box: WxH:fit (fit inside, the\n"
      "                           default), WxH:cover (cover the box), WxH:exact\n"
      "  --no-enlarge             never enlarge an image smaller than the size\n"
      "  --quality N              JPEG quality, 1 to 100\n"
      "  --format F               output format for every input: jpg, png, bmp,\n"
      "                           tif or jxr\n"
      "  --out DIR                write into DIR (with the file-name part of the\n"
      "                           profile's template, <old> by default)\n"
      "  --template TEXT          file-name template, e.g. \"<old>_web\" (under\n"
      "                           --out DIR, else beside each source)\n"
      "  --keep-metadata          copy Exif, the ICC profile and the resolution\n"
      "  --strip-metadata         leave out Exif and other marker segments; the\n"
      "                           Exif orientation is applied to the pixels first,\n"
      "                           so pictures stay upright (the ICC profile stays)\n"
      "  --overwrite              replace existing outputs\n"
      "  --skip-existing          skip a file whose output exists\n"
      "  --number-existing        give the output the next free \"[k]\" name\n"
      "  --workers N              files converted at once, 1 to 1024 (at most the\n"
      "                           number of processors)\n"
      "  --set Section.Key=Value  any key of the settings file; the keys, their\n"
      "                           types, defaults and ranges are listed in\n"
      "                           docs/profile-keys.md (tessivo --profile-keys)\n"
      "\n"
      "Run:\n"
      "  --dry-run                list \"source -> output\" on standard output and\n"
      "                           write nothing\n"
      "  --progress=json          one JSON object per finished file on standard\n"
      "                           output: source, output, status (\"converted\",\n"
      "                           \"warning\" or \"failed\"), message, seconds\n"
      "  --strict                 a file converted with a warning (a damaged Exif\n"
      "                           block left out, the decoder's complaint about\n"
      "                           the data) fails the run: exit status 1\n"
      "  --shard K/N              name the list as a whole run, convert only the\n"
      "                           entries whose index mod N is K (0 <= K < N): N\n"
      "                           runs together convert the list once\n"
      "  --print-profile          print the effective settings as an INI file (a\n"
      "                           profile to save) and exit\n"
      "  --profile-keys           print the key reference and exit\n"
      "  -h, --help               this text\n"
      "  --version                the version\n"
      "\n"
      "/ini= and /list= are recognised by their beginning, in any case; another\n"
      "/name= or an unknown option is refused before anything is converted.\n"
      "Every other argument is an input path (relative paths are taken from the\n"
      "current folder). When an option is given twice, the last one counts.\n"
      "Values out of range are refused with the key and its range; a profile's\n"
      "own out-of-range numbers are brought into range with a warning each.\n"
      "\n"
      "Settings folder: %s\n"
      "  (from $TESSIVOPLUS_DATA, else $XDG_DATA_HOME/TessivoPlus/ or\n"
      "  ~/.local/share/TessivoPlus/, followed by ini/). Without a profile the\n"
      "  built-in defaults apply: outputs go to resize/<old> beside each\n"
      "  source, at 100 %% (a JPEG is then copied without recompression).\n"
      "\n"
      "Examples:\n"
      "  tessivo ~/Pictures/trip            a folder, with TessivoPlus.ini\n"
      "  tessivo --size 1600 --no-enlarge --quality 85 --out out/ photos/\n"
      "                                     long side 1600 at most, into out/\n"
      "  tessivo /ini=web.ini IMG_*.jpg     some files, with the profile web.ini\n"
      "  tessivo --list=todo.txt            the files listed in todo.txt\n"
      "  tessivo --shard 0/3 photos/        the first of three shards\n"
      "\n"
      "While it runs: Ctrl+C stops after the files in progress (twice: at once),\n"
      "SIGUSR1 pauses and resumes.\n"
      "\n"
      "With Combine.Use=1 in the profile the pictures are tiled into pages of\n"
      "Combine.Rows across and Combine.Columns down, one file a page (<n> in\n"
      "the template numbers them); Ctrl+C finishes the page in progress.\n"
      "\n"
      "The last line counts the files converted, converted with a warning,\n"
      "failed and skipped (their output existed); the warnings and errors are\n"
      "listed after it.\n"
      "\n"
      "Exit status: 0 every input converted (warnings included, unless\n"
      "--strict), 1 some input did not convert (the error log is printed), a\n"
      "warning under --strict, or the run was stopped, 2 bad arguments or an\n"
      "unreadable settings file, 3 a run-time library could not be loaded.\n",
      SettingsFolder().c_str());
}

int Fail(int Code, const std::string &Message) {
  std::fprintf(stderr, "tessivo: %s\n", Message.c_str());
  return Code;
}

// Set while the workers run: a second stop request is then carried out by
// the main thread, which removes the temporary files of the files in progress.
std::atomic<bool> Converting{false};

void OnInterrupt(int) {
  // The first Ctrl+C, SIGTERM or SIGHUP stops after the files in progress;
  // the next one abandons them, or, while nothing is being written yet,
  // ends the program at once.
  if (TTerminalView::StopRequests.fetch_add(1) >= 1 && !Converting.load()) {
    UnlinkWembSharedBlocks();
    RemoveRunTempFolderNow();
    ::_exit(EXIT_ERRORS);
  }
}

// What the log held when it was printed.
struct TLogCounts {
  size_t Errors = 0;
  size_t Warnings = 0;
};

// The warnings, then the error log, on standard error.
TLogCounts PrintErrorLog() {
  std::vector<std::string> Errors, Warnings;
  ErrorLogForm().TakeMessages(Errors, Warnings);
  if (!Warnings.empty()) {
    std::fprintf(stderr, "Warnings (%zu):\n", Warnings.size());
    for (const auto &Line : Warnings) std::fprintf(stderr, "  %s\n", Line.c_str());
  }
  if (!Errors.empty()) {
    std::fprintf(stderr, "ErrorLog (%zu):\n", Errors.size());
    for (const auto &Line : Errors) std::fprintf(stderr, "  %s\n", Line.c_str());
  }
  return {Errors.size(), Warnings.size()};
}

const char *StatusText(TEntryOutcome Outcome) {
  switch (Outcome) {
    case TEntryOutcome::Converted:
      return "converted";
    case TEntryOutcome::Warned:
      return "warning";
    case TEntryOutcome::Failed:
      break;
  }
  return "failed";
}

// Entries of this run (its shard) that are pictures but were given no
// output name: their output exists and is kept.
int32_t SkippedEntries(const TImageInfoList &List, int32_t ShardIndex, int32_t ShardCount) {
  int32_t Skipped = 0;
  for (int32_t i = 0; i < List.Count(); ++i) {
    const TImageInfo &E = *List[i];
    if (ShardCount > 1 && i % ShardCount != ShardIndex) continue;
    if (E.Checked && E.Width > 0 && E.Height > 0 && E.OutPutFileName.empty()) ++Skipped;
  }
  return Skipped;
}

void OnPauseSignal(int) { TTerminalView::PauseRequests.fetch_add(1); }

std::string CurrentFolder() {
  char Buf[4096];
  return ::getcwd(Buf, sizeof Buf) ? std::string(Buf) : std::string("/");
}

std::string ReadWholeFile(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

bool IsRegularFile(const std::string &Path) {
  struct stat st;
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What the output-name template does wrong, as the first entry it gives no
// usable name shows it.
std::string TemplateFaultOf(const TImageInfoList &List, const std::string &Template) {
  for (int32_t i = 0; i < List.Count(); ++i) {
    const TImageInfo &E = *List[i];
    if (!E.Checked || E.Width <= 0 || E.Height <= 0) continue;
    if (std::string Fault = FileNameTemplateFault(Template, E, CurrentRunSettings()); !Fault.empty()) return Fault;
  }
  return {};
}

// Where the outputs went: the distinct folders of the output names.
std::vector<std::string> OutputFolders(const TImageInfoList &List) {
  std::set<std::string> Folders;
  for (int32_t i = 0; i < List.Count(); ++i) {
    const std::string &Out = List[i]->OutPutFileName;
    if (Out.empty() || !IsRegularFile(Out)) continue;
    const auto p = Out.find_last_of('/');
    Folders.insert(p == std::string::npos ? std::string(".") : Out.substr(0, p));
  }
  return {Folders.begin(), Folders.end()};
}

// Text as a JSON string literal (UTF-8 passes through; control characters escaped).
std::string JsonString(const std::string &Text) {
  std::string Out = "\"";
  for (const unsigned char c : Text) {
    if (c == '"' || c == '\\') {
      Out += '\\';
      Out += char(c);
    } else if (c < 0x20) {
      char Buf[8];
      std::snprintf(Buf, sizeof Buf, "\\u%04x", c);
      Out += Buf;
    } else {
      Out += char(c);
    }
  }
  return Out + "\"";
}

// The terminal view, and one JSON line per finished file on standard output.
class TJsonProgressView : public TTerminalView {
public:
  using TTerminalView::TTerminalView;
  void FileFinished(const TFileReport &R) override {
    char Seconds[32];
    std::snprintf(Seconds, sizeof Seconds, "%.3f", R.Seconds);
    const std::string Line = "{\"source\":" + JsonString(R.Source) + ",\"output\":" + JsonString(R.Output) +
                             ",\"status\":" + JsonString(StatusText(R.Outcome)) +
                             ",\"message\":" + JsonString(R.Message) + ",\"seconds\":" + Seconds + "}\n";
    std::lock_guard Lock(FLock);
    std::fputs(Line.c_str(), stdout);
    std::fflush(stdout);
  }

private:
  std::mutex FLock;
};

// A second stop request drops the files in progress: their temporary
// outputs are removed and the program ends.
void AbandonRun() {
  const int32_t Removed = AbandonTemporaryOutputs();
  std::fprintf(stderr, "\nabandoned: the files in progress were dropped, %d temporary files removed\n", Removed);
  PrintErrorLog();
  UnlinkWembSharedBlocks();  // the run's lossless-JPEG parameters, which no destructor removes now
  RemoveRunTempFolderNow();  // and the working files of the steps in progress
  std::_Exit(EXIT_ERRORS);
}

void StoreStartNumberIfKept(const std::string &IniPath) {
  if (FileOption.ResetType != 2) return;
  try {
    SaveStartNumber(IniPath);
  } catch (const std::exception &E) {
    ErrorLogForm().PutErrorMsg(IniPath + ": " + E.what());
  }
}

// Conversion mode 2: the listed images tiled into pages, one file a page.
int32_t RunCombining(TImageInfoList &List, TTerminalView &View, const std::string &IniPath) {
  TProgressForm2 Form(List, &View);
  View.SetController(&Form);
  View.OnAbandon = AbandonRun;
  Converting = true;
  const int32_t Modal = Form.ShowModal();
  Converting = false;
  View.SetController(nullptr);
  StoreStartNumberIfKept(IniPath);
  const TProgressSnapshot S = Form.Snapshot();
  const int32_t Pages = int32_t(Form.Written().size());
  if (Modal == MR_OK) {
    std::fprintf(stderr, "%d pages written from %d of %d images in %s: %d images failed\n", Pages,
                 S.FilesDone - S.FilesFailed, S.FilesTotal, Form.ResultText.c_str(), S.FilesFailed);
  } else {
    std::fprintf(stderr, "stopped: %d pages written, %d of %d images done\n", Pages, S.FilesDone, S.FilesTotal);
  }
  std::set<std::string> Folders;
  for (const TOutputFileInfo &W : Form.Written()) {
    const auto p = W.FileName.find_last_of('/');
    Folders.insert(p == std::string::npos ? std::string(".") : W.FileName.substr(0, p));
  }
  size_t Shown = 0;
  for (const std::string &F : Folders)
    if (Shown++ < 8) std::fprintf(stderr, "output: %s/\n", F.c_str());
  if (Folders.size() > 8) std::fprintf(stderr, "output: ... and %zu more folders\n", Folders.size() - 8);
  return Modal;
}

}  // namespace

int main(int argc, char **argv) {
  const std::string Cwd = CurrentFolder();
  const TCommandLine Cmd = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), Cwd);
  if (Cmd.Help) {
    PrintHelp();
    return EXIT_CLEAN;
  }
  if (Cmd.Version) {
    std::printf("tessivo (TessivoPlus %s)\n", TESSIVO_VERSION);
    return EXIT_CLEAN;
  }
  if (Cmd.ProfileKeys) {
    std::fputs(ProfileKeysMarkdown(ProfileKeysRead(KeysTheReadersRead())).c_str(), stdout);
    return EXIT_CLEAN;
  }
  if (!Cmd.Error.empty()) return Fail(EXIT_USAGE, Cmd.Error + " (see tessivo --help)");

  std::vector<std::string> Paths = Cmd.Paths;
  if (Cmd.HasList && !ReadListFile(Cmd.ListFile, Cwd, Paths))
    return Fail(EXIT_USAGE, "cannot read the list file " + Cmd.ListFile + ": " + std::strerror(errno));
  if (Paths.empty() && !Cmd.PrintProfile)
    return Fail(EXIT_USAGE, "no input files or folders given (see tessivo --help)");

  CreateDataFolders();
  const std::string IniPath = Cmd.HasIni ? ResolveSettingsFileName(Cmd.Ini) : DefaultSettingsFile();
  if (Cmd.HasIni && !IsRegularFile(IniPath)) return Fail(EXIT_USAGE, "settings file not found: " + IniPath);
  // The profile, with the command line laid over it: the run reads this copy.
  TMemIniFile Ini;
  try {
    Ini = TMemIniFile(IniPath);
  } catch (const std::exception &E) {
    return Fail(EXIT_USAGE, "cannot read the settings file " + IniPath + ": " + E.what());
  }
  // Defaults in place of a profile that is no settings file would convert
  // everything the wrong way without a word.
  if (std::string Why; !IsSettingsText(ReadWholeFile(IniPath), Why)) return Fail(EXIT_USAGE, IniPath + ": " + Why);
  const std::vector<TProfileKey> Keys = ProfileKeysRead(KeysTheReadersRead());
  for (const std::string &W : ClampProfileValues(Ini, Keys))
    std::fprintf(stderr, "tessivo: %s: warning: %s\n", IniPath.c_str(), W.c_str());
  if (const std::string E = ApplyCommandLineSettings(Cmd, Ini, Keys); !E.empty())
    return Fail(EXIT_USAGE, E + " (see tessivo --help)");
  if (Cmd.PrintProfile) {
    std::fputs(EffectiveProfileText(Ini, ProfileKeyTable()).c_str(), stdout);
    return EXIT_CLEAN;
  }

  // The stop signals are caught from here on, so that no signal ends the
  // program without removing the working folder made next.
  struct sigaction Stop {};
  Stop.sa_handler = OnInterrupt;
  sigemptyset(&Stop.sa_mask);
  for (const int Signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(Signal, &Stop, nullptr);
  std::signal(SIGUSR1, OnPauseSignal);
  // The working folder of the steps and tools, removed with its contents
  // however the program ends. Without it the run goes on; a step that needs
  // working files then fails for each file with the reason.
  std::optional<TRunTempFolder> WorkFolder;
  try {
    WorkFolder.emplace();
  } catch (const std::exception &E) {
    std::fprintf(stderr, "tessivo: %s\n", E.what());
  }

  const int32_t P = LogicalProcessorCount();
  SystemOption.ProcessorCount = P;
  try {
    LoadPixio();
    LoadResizeLibrary();
    LoadFisheyeLibrary();  // the lens library is bound with the resampling one
  } catch (const std::exception &E) {
    return Fail(EXIT_START_FAILED, E.what());
  }
  // Without the noise-removal library the program runs on; the step is not offered.
  try {
    LoadDenoiseLibrary();
  } catch (const std::exception &E) {
    std::fprintf(stderr, "tessivo: %s\n", E.what());
  }
  CreateBatchObjects(P);
  int Result = EXIT_CLEAN;
  {
    TEffectList Effects;
    CreateDefaultEffects(Effects, ProgramBinFolder());
    try {
      const std::string Warning = LoadIniSettings(Ini, Effects);
      if (!Warning.empty()) std::fprintf(stderr, "tessivo: %s\n", Warning.c_str());
      // A library without its procedures leaves the step off, said once.
      if (TEffect *D = Effects.FindByID(EFFECT_DENOISE); D && D->Use() && !DenoiseAvailable()) {
        std::fprintf(stderr, "tessivo: LoadLibrary Error: %s/libdenoise.so has no GetDenoiseFuncs; noise removal is off\n",
                     ProgramBinFolder().c_str());
        D->SetUse(false);
      }
      // The AVX option picks the code path of the filters the program-wide
      // resizers and sharpener make; the resampling library stays as loaded.
      const int32_t Isa = ResizeIsaFor(SystemOption.UseAVX != LongFalse);
      for (TResizer *R : {MainResizer, AntialiasingResizer, ThumbnailResizer})
        if (R) R->FilterIsa = Isa;
      if (ProgramUnsharpMask) ProgramUnsharpMask->Isa = Isa;
    } catch (const std::exception &E) {
      FreeBatchObjects();
      return Fail(EXIT_USAGE, "cannot use the settings file " + IniPath + ": " + E.what());
    }
    // The plug-ins of the configured folder, in the stored orders.
    if (const std::string E = StartProgramPlugins(Ini); !E.empty()) std::fprintf(stderr, "tessivo: %s\n", E.c_str());
    ErrorLogForm();  // loader and prober failures go to the log from here on
    // A combining run names its pages as it writes them, from the images it
    // has gathered: there is no list of names to print or to share out.
    if (ConvertMode == CONVERT_MODE_COMBINE && (Cmd.DryRun || Cmd.ShardCount > 1)) {
      FreeBatchObjects();
      return Fail(EXIT_USAGE, std::string(Cmd.DryRun ? "--dry-run" : "--shard") +
                                  " is not available in the combining mode (Combine.Use=1)");
    }

    // The stored rule, as an unattended run has no window to take it from.
    const TSizeParam Size = ResolveSizeRuleUnattended(ResizeOption);
    Effects.SetResizeParam(Size.Type, Size.Value, Size.Value2);
    ApplyResizeKernels(ResizeOption.DecimationMode, ResizeOption.InterpolationMode, ResizeOption.SIMDMode);

    const bool Interactive = ::isatty(fileno(stderr)) != 0;

    TImageInfoList List;
    {
      TProgressForm3 Adding(List);
      Adding.SetListView(nullptr);
      TListupOptions Listing = CurrentListupOptions();
      Listing.OutputTemplate = FileOption.FileNameFormat;
      Adding.SetOptions(Listing);
      Adding.AddFiles(Paths, false);
      if (Interactive) std::fputs("listing the input files...", stderr);
      const int32_t Listed = Adding.ShowModal();
      if (Interactive) std::fputs("\r\033[K", stderr);
      if (Listed != 1) TTerminalView::StopRequests.fetch_add(1);
    }

    TJsonProgressView JsonView(stderr, Interactive);
    TTerminalView PlainView(stderr, Interactive);
    TTerminalView &View = Cmd.ProgressJson ? JsonView : PlainView;
    int32_t Modal = MR_CANCEL;
    if (Cmd.DryRun && List.Count() > 0) {
      // The names a run would choose, from the files as they are now; no folder is made.
      TEffectList *Chain = &Effects;
      const TOutputNameTotals Named = MakeOutputFileNames(
          List, FileOption.FileNameFormat, CurrentRunSettings(),
          [Chain](const TImageInfo &Info) {
            TScale S;
            Chain->CanDownScalingLoad(Info, S);
            return S;
          },
          nullptr, nullptr, nullptr, false);
      for (int32_t i = 0; i < List.Count(); ++i) {
        const TImageInfo &E = *List[i];
        if (Cmd.ShardCount > 1 && i % Cmd.ShardCount != Cmd.ShardIndex) continue;
        const std::string &Source = E.FIsArchive ? E.FArchivePath : E.FPath;
        std::printf("%s -> %s\n", Source.c_str(), E.OutPutFileName.empty() ? "(skipped)" : E.OutPutFileName.c_str());
      }
      // A template that gives no usable name fails a dry run as it would fail the run.
      if (Named.OutputFileCount < 0) {
        const std::string Fault = TemplateFaultOf(List, FileOption.FileNameFormat);
        ErrorLogForm().PutErrorMsg(IniPath + ": File.FileNameFormat=" + FileOption.FileNameFormat + ": " +
                                   InvalidFileNameMessage + (Fault.empty() ? "" : ": " + Fault));
      }
    } else if (List.Count() > 0 && TTerminalView::StopRequests.load() == 0 && ConvertMode == CONVERT_MODE_COMBINE) {
      Modal = RunCombining(List, View, IniPath);
    } else if (List.Count() > 0 && TTerminalView::StopRequests.load() == 0) {
      TProgressForm Form(List, Effects, &View);
      Form.ShardIndex = Cmd.ShardIndex;
      Form.ShardCount = Cmd.ShardCount;
      View.SetController(&Form);
      View.OnAbandon = AbandonRun;
      Converting = true;
      Modal = Form.ShowModal();
      Converting = false;
      View.SetController(nullptr);
      const TProgressSnapshot S = Form.Snapshot();
      StoreStartNumberIfKept(IniPath);
      const double Seconds = double(S.ElapsedMs) / 1000.0;
      if (Modal == MR_OK) {
        std::fprintf(stderr, "%d of %d files converted in %s (%.1f MPix/s): %d with warnings, %d failed, %d skipped\n",
                     S.FilesDone - S.FilesFailed, S.FilesTotal, Form.ResultText.c_str(),
                     Seconds > 0 ? S.PixelsDone / 1e6 / Seconds : 0.0, S.FilesWarned, S.FilesFailed,
                     SkippedEntries(List, Cmd.ShardIndex, Cmd.ShardCount));
      } else if (Form.Canceled) {
        std::fprintf(stderr, "stopped: %d of %d files done\n", S.FilesDone, S.FilesTotal);
      } else if (Form.OutputFileCount < 0) {
        const std::string Fault = TemplateFaultOf(List, FileOption.FileNameFormat);
        ErrorLogForm().PutErrorMsg(IniPath + ": File.FileNameFormat=" + FileOption.FileNameFormat + ": " +
                                   InvalidFileNameMessage + (Fault.empty() ? "" : ": " + Fault));
      } else if (Form.OutputFileCount == 0) {
        std::fprintf(stderr, "nothing to convert: every output name is taken or skipped\n");
      }
      const std::vector<std::string> Folders = OutputFolders(List);
      for (size_t i = 0; i < Folders.size() && i < 8; ++i) std::fprintf(stderr, "output: %s/\n", Folders[i].c_str());
      if (Folders.size() > 8) std::fprintf(stderr, "output: ... and %zu more folders\n", Folders.size() - 8);
    } else if (List.Count() == 0) {
      std::fprintf(stderr, "nothing to convert: no images in the given paths\n");
    }

    // Warnings alone leave the run clean: every input converted.
    if (const TLogCounts Log = PrintErrorLog(); Log.Errors > 0 || (Cmd.Strict && Log.Warnings > 0)) {
      Result = EXIT_ERRORS;
    } else if (Modal != MR_OK && TTerminalView::StopRequests.load() > 0) {
      Result = EXIT_ERRORS;
    }
  }
  ReleaseProgramPlugins();
  FreeBatchObjects();
  FreePixio();
  return Result;
}
