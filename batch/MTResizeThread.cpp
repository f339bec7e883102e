// The per-file conversion worker.
#include "batch/MTResizeThread.h"

#include "core/AsciiCase.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "batch/ErrorLogFrm.h"
#include "core/Errors.h"
#include "core/RunTempFolder.h"
#include "batch/FileNameTemplate.h"
#include "io/FormatOption.h"
#include "color/ICCUtil.h"
#include "batch/ImageInfo.h"
#include "io/ExifReader.h"
#include "io/ImageProbe.h"
#include "io/JpegSegment.h"
#include "lossless/Quzen.h"
#include "io/LoadPicture.h"
#include "batch/MakeOutputFileName.h"
#include "batch/OutputFile.h"
#include "batch/ProgressFrm.h"
#include "core/TempFile.h"
#include "resample/Resize.h"
#include "io/SavePicture.h"
#include "resample/WeightedMean.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {


uint32_t BlockCount(const TImageInfo &E) {
  const auto Blocks = [](int32_t v) { return v > 0 ? uint32_t((int64_t(v) + 255) / 256) : 0u; };
  return Blocks(E.Width) * Blocks(E.Height);
}

TOutputTimes OutputTimesOf(const TImageInfo &E, const TMetadataOption &Metadata) {
  TOutputTimes T;
  T.DateTimeOriginal = E.DateTimeOriginal;
  T.DateTimeLastWrite = E.DateTimeLastWrite;
  T.DateTimeCreation = E.DateTimeCreation;
  T.UpdateTimestampFromExif = Metadata.UpdateTimestampFromExif != 0;
  T.KeepLastWriteTime = Metadata.KeepLastWriteTime != 0;
  T.KeepCreationTime = Metadata.KeepCreationTime != 0;
  return T;
}

bool KeepsFileTimes(const TMetadataOption &M) { return M.KeepCreationTime || M.KeepLastWriteTime; }
bool ChangesFileTimes(const TMetadataOption &M) { return KeepsFileTimes(M) || M.UpdateTimestampFromExif; }

// Writes Bytes as Path through a temporary file renamed over it; raises with
// the system's reason when any write, the close or the rename fails, and
// then leaves nothing at Path.
void WriteWholeFile(const std::string &Path, const std::vector<uint8_t> &Bytes) {
  TOutputFile Out(Path, {.MakeFolder = false, .Mode = 0644});
  Out.Write(Bytes);
  Out.Commit();
}

// A failed move or copy in rename mode, with the system's reason.
std::string WithSystemReason(const char *Message, int Err) {
  return std::string(Message) + " (" + std::strerror(Err) + ")";
}

// How an entry's output takes its name. Without overwriting, nothing that is
// there is replaced: another run writing into the same folder may have taken
// the name since the naming pass chose it, and the next "[k]" is tried
// (never with Skip, which gives up instead).
TCommitRule CommitRuleFor(const TImageInfo &Entry, bool NotOverwrite, const TFileOption &File) {
  TCommitRule Rule;
  Rule.Exclusive = NotOverwrite;
  if (NotOverwrite && !File.Skip) {
    const std::string Base = Entry.UnnumberedOutput.empty() ? Entry.OutPutFileName : Entry.UnnumberedOutput;
    Rule.NextName = [Base](int64_t k) { return k <= 1000000 ? NumberedName(Base, k) : std::string(); };
  }
  return Rule;
}

// The entry's output is where its commit went.
void TakeCommittedName(TImageInfo &Entry, const TCommitRule &Rule) {
  if (!Rule.Committed.empty()) Entry.OutPutFileName = Rule.Committed;
}

// The output is complete when this runs, so a source that stays behind is a
// warning on the file, with the system's reason, not a failed conversion.
std::string DeleteSourceIfAllowed(const std::string &Source, const std::string &Output, const TFileOption &File) {
  if (!File.DeleteInputFile || !MayDeleteSource(Source, Output)) return {};
  errno = 0;
  if (DeleteSourceFile(Source, File.AllowUndo != 0)) return {};
  const int Reason = errno;
  return std::string("the source was not deleted") + (Reason != 0 ? std::string(" (") + std::strerror(Reason) + ")" : "");
}

}  // namespace

bool MayDeleteSource(const std::string &Source, const std::string &Output) {
  if (Source.empty() || Output.empty() || SameTextAscii(Source, Output)) return false;
  struct stat Out, In;
  if (::stat(Output.c_str(), &Out) != 0 || !S_ISREG(Out.st_mode) || Out.st_size <= 0) return false;
  if (::stat(Source.c_str(), &In) != 0) return false;
  return !(In.st_dev == Out.st_dev && In.st_ino == Out.st_ino);
}

TMTResizeThread::TMTResizeThread(TProgressForm &AParent, int32_t AThreadNum)
    : Parent(AParent), ThreadNum(AThreadNum) {}

TMTResizeThread::~TMTResizeThread() { WaitFor(); }

void TMTResizeThread::Resume() {
  FThread = std::thread([this] { Execute(); });
  // Reports are handled on the controller's thread, the one calling Resume,
  // so the identifier is in place before any report is looked at.
  FThreadID = std::hash<std::thread::id>()(FThread.get_id());
}

void TMTResizeThread::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

void TMTResizeThread::CreateWorkerObjects() {
  EffectParams.Preview = false;
  EffectParams.ThreadNum = ThreadNum;
  EffectParams.Settings = &Parent.Settings();
  // The run's budget, shared evenly by its workers.
  EffectParams.MemoryBudget = {MemoryBudgetBytes(Parent.Settings().System.MemoryBudgetMB), Parent.WorkerCount()};
  if (!Engines) throw ETessivoError("リサイズ処理が初期化されていません");
  Engines->Bind(EffectParams);
}

void TMTResizeThread::FreeWorkerObjects() {
  EffectParams.Resizer = nullptr;
  EffectParams.UnSharpMask = nullptr;
  EffectParams.Antialiasing = nullptr;
  EffectParams.GaussianBlur = nullptr;
  EffectParams.ThumbnailResizer = nullptr;
  EffectParams.MT = nullptr;
  EffectParams.ColorTransform = nullptr;
  Engines.reset();
}

void TMTResizeThread::Execute() {
  bool Stopped = false;
  try {
    Stopped = Run();
  } catch (const std::exception &E) {
    // Nothing outside one file's conversion should fail; if it does, the run
    // still hears from this worker.
    ErrorLogForm().PutErrorMsg(std::string("worker ") + std::to_string(ThreadNum) + ": " + E.what());
  }
  Parent.PostMessage(Stopped ? WM_WORKER_STOPPED : WM_WORKER_DONE, CurrentThreadID());
}

bool TMTResizeThread::Run() {
  CreateWorkerObjects();
  const bool EffectsInUse = Parent.Effects().IsUse();
  uint32_t LastBlocks = 0;
  bool Stopped = false;
  for (;;) {
    ProgressSize = 0;
    if (FTerminated) {
      Stopped = true;
      break;
    }
    // A stale resume signal only makes the check run once more.
    while (Parent.Suspended() && !FTerminated) RunEvent.Wait();
    if (FTerminated) {
      Stopped = true;
      break;
    }
    TImageInfo *Entry = Parent.TakeNextEntry();
    if (!Entry) {
      Stopped = FTerminated || Parent.StopRequested();
      break;
    }
    LabelText = Entry->GetName();
    ProgressSize = 3 * LastBlocks;
    Parent.Synchronize([this] { Parent.ReportProgress(ProgressSize, LabelText); });
    LastBlocks = BlockCount(*Entry);
    const int32_t LogBefore = ErrorLogForm().GetErrorCount();
    const uint64_t Started = MillisecondClock();
    std::string Warning;
    const bool Ok = ConvertEntry(*Entry, EffectsInUse, Warning);
    const double Seconds = double(MillisecondClock() - Started) / 1000.0;
    // The log is shared by the workers: this entry's lines are the new ones with its name.
    std::vector<std::string> Messages;
    const std::string Prefix = Entry->GetName() + ": ";
    // A damaged Exif block was logged when the file was listed; the file's
    // report names it again.
    if (Ok && Entry->FExifBroken) Messages.push_back(Entry->FPath + EXIF_BROKEN_MESSAGE);
    for (std::string &M : ErrorLogForm().MessagesFrom(LogBefore))
      if (M.rfind(Prefix, 0) == 0 || M.rfind(Entry->FPath, 0) == 0) Messages.push_back(std::move(M));
    const TEntryOutcome Outcome =
        !Ok ? TEntryOutcome::Failed
            : (!Warning.empty() || Entry->FExifBroken ? TEntryOutcome::Warned : TEntryOutcome::Converted);
    Parent.EntryFinished(*Entry, Outcome, Messages, Seconds);
  }
  // The last entry's units, so that the bar ends full.
  if (LastBlocks > 0) {
    ProgressSize = 3 * LastBlocks;
    Parent.Synchronize([this] { Parent.ReportProgress(ProgressSize, std::string()); });
  }
  FreeWorkerObjects();
  return Stopped;
}

bool TMTResizeThread::ConvertEntry(TImageInfo &Entry, bool EffectsInUse, std::string &Warning) {
  TEffectList &Effects = Parent.Effects();
  const TRunSettings &S = Parent.Settings();
  // The image and everything it points to (pixels, profile, Exif, markers)
  // go when the entry is done, on every path.
  TICCImgOwner Img;
  EffectParams.RInfo.XResolution = Entry.FXResolution;
  EffectParams.RInfo.YResolution = Entry.FYResolution;
  EffectParams.RInfo.ResolutionUnit = Entry.FResolutionUnit;
  EffectParams.Time = Entry.DateTimeOriginal != 0 ? Entry.DateTimeOriginal : Entry.DateTimeLastWrite;
  TScale Scale;
  const bool MayDownscale = Effects.CanDownScalingLoad(Entry, Scale);
  const int32_t OutType = OutputTypeOf(Entry.OutPutFileName);
  const std::string Name = Entry.GetName();
  std::unique_ptr<TReadOnlyGuard> Guard;
  bool Ok = true;
  try {
    if (Parent.RenameOnly) {
      Ok = RenameEntry(Entry);
    } else if (S.ConvertMode == CONVERT_MODE_JPEGTRAN) {
      // Lossless mode works on JPEG sources only; the others are passed over.
      if (Entry.PictureFormat == PICTURE_JPEG) Ok = LosslessEntry(Entry);
    } else if (Entry.PictureFormat == PICTURE_JPEG && OutType == OUTPUT_JPEG && !S.Formats.JPEG.AlwaysRecompress &&
               EffectsInUse && !Effects.IsChange(Entry)) {
      Ok = PassThrough(Entry, Warning);
      if (!Warning.empty()) ErrorLogForm().PutWarningMsg(Name + ": " + Warning);
    } else {
      // A source that cannot be decoded raises "Loadに失敗しました (reason)";
      // one that decodes with complaints converts, and they become a warning.
      int32_t Factor = 0;
      {
        TLibraryMessageCapture DecoderMessages;
        Factor = LoadPicture(Entry, *Img, Scale, true, true, EffectParams.ColorTransform, MayDownscale, OutType,
                             S.Formats, S.ColorManagement, EffectParams.MemoryBudget);
        Warning = DecoderMessages.Text();
      }
      const uint32_t LoadedBPP = Img->BPP;
      EffectParams.InFileName.clear();
      EffectParams.OutFileName = Entry.OutPutFileName;
      EffectParams.Number = Entry.Number;
      {
        // A step that stands in for something missing (a font that is not
        // installed) converts the file all the same: a warning on it.
        TLibraryMessageCapture EffectMessages;
        Effects.DoEffect(*Img, Entry, EffectParams, Factor);
        if (!EffectMessages.Text().empty()) Warning += (Warning.empty() ? "" : "; ") + EffectMessages.Text();
      }
      Guard = std::make_unique<TReadOnlyGuard>(Entry.OutPutFileName);
      TCommitRule Rule = CommitRuleFor(Entry, Parent.NotOverwrite, S.File);
      {
        TSaveContext Context;
        Context.Commit = &Rule;
        Context.AutoRotation = Effects.FExifRotationUse;
        Context.DecreaseColor = EffectParams.DecreaseColor;
        Context.GrayscaleDecreaseColor = EffectParams.GrayscaleDecreaseColor != 0;
        Context.Formats = S.Formats;
        Context.ColorManagement = S.ColorManagement;
        Context.ProcessPriority = S.System.ProcessPriority;
        Context.ThreadNum = ThreadNum;
        Context.ThumbnailResizer = EffectParams.ThumbnailResizer;
        Context.MT = EffectParams.MT;
        Context.ColorTransform = EffectParams.ColorTransform;
        // A writer's complaints about a save that succeeded (an Exif block
        // left out, say) become a warning; a failed save carries them in its
        // error instead.
        TLibraryMessageCapture EncoderMessages;
        if (!EffectParams.PreparedOutput.empty()) {
          // The colour reduction's tool wrote the output's PNG itself.
          const std::string Prepared = std::exchange(EffectParams.PreparedOutput, std::string());
          struct TDrop {
            const std::string &Path;
            ~TDrop() { DeleteWorkFile(Path); }
          } Drop{Prepared};
          SavePreparedPNG(Prepared, Entry.OutPutFileName, Context);
        } else {
          SavePicture(*Img, Entry, Entry.OutPutFileName, EffectParams.RInfo, LoadedBPP, Context);
        }
        if (!EncoderMessages.Text().empty()) Warning += (Warning.empty() ? "" : "; ") + EncoderMessages.Text();
      }
      TakeCommittedName(Entry, Rule);
      if (ChangesFileTimes(S.Formats.Metadata))
        SetOutputTimes(Entry.OutPutFileName, OutputTimesOf(Entry, S.Formats.Metadata));
      if (!Entry.FIsArchive)
        if (std::string Kept = DeleteSourceIfAllowed(Entry.FPath, Entry.OutPutFileName, S.File); !Kept.empty())
          Warning += (Warning.empty() ? "" : "; ") + Kept;
      if (!Warning.empty()) ErrorLogForm().PutWarningMsg(Name + ": " + Warning);
    }
  } catch (const std::exception &E) {
    ErrorLogForm().PutErrorMsg(Name + ": " + E.what());
    Warning.clear();
    Ok = false;
  } catch (...) {
    ErrorLogForm().PutErrorMsg(Name + ": " + "不明なエラー");
    Warning.clear();
    Ok = false;
  }
  Guard.reset();  // the output's read-only bit comes back, also after an error
  return Ok;
}

bool TMTResizeThread::RenameEntry(TImageInfo &Entry) {
  const std::string Name = Entry.GetName();
  const TMetadataOption &Metadata = Parent.Settings().Formats.Metadata;
  if (Entry.FIsArchive) {
    std::vector<uint8_t> Bytes;
    if (!ExtractArchiveMember(Entry, Bytes))
      throw ETessivoError("書庫から取り出せません");
    if (Entry.Size >= 0 && size_t(Entry.Size) < Bytes.size()) Bytes.resize(size_t(Entry.Size));
    WriteWholeFile(Entry.OutPutFileName, Bytes);
    if (KeepsFileTimes(Metadata)) SetOutputTimes(Entry.OutPutFileName, OutputTimesOf(Entry, Metadata));
    return true;
  }
  if (SameFileSystem(Entry.FPath, Entry.OutPutFileName)) {
    if (!MoveFileTo(Entry.FPath, Entry.OutPutFileName)) {
      const int Err = errno;
      ErrorLogForm().PutErrorMsg(Name + ": " + WithSystemReason(RENAME_FAILED_MSG, Err));
      return false;
    }
  } else if (!CopyFileTo(Entry.FPath, Entry.OutPutFileName, Parent.NotOverwrite)) {
    const int Err = errno;
    ErrorLogForm().PutErrorMsg(Name + ": " + WithSystemReason(COPY_FAILED_MSG, Err));
    return false;
  }
  if (KeepsFileTimes(Metadata)) SetOutputTimes(Entry.OutPutFileName, OutputTimesOf(Entry, Metadata));
  return true;
}

bool TMTResizeThread::LosslessEntry(TImageInfo &Entry) {
  TQuzen *Quzen = Parent.Quzen.get();
  if (!Quzen) throw ETessivoError("the lossless-JPEG parameters are not published");
  const TRunSettings &S = Parent.Settings();
  if (Entry.FIsArchive) {
    // An archive member is converted from a temporary copy, which goes afterwards.
    std::vector<uint8_t> Bytes;
    ReadEntryBytes(Entry, Bytes);
    const std::string Copy = SystemTempFolder() + "/Tmp" + std::to_string(getpid()) + "-" +
                             std::to_string(ThreadNum) + ".jpg";
    {
      TOutputFile Out(Copy);
      Out.Write(Bytes);
      Out.Commit();
    }
    try {
      Quzen->Convert(Copy, Entry.OutPutFileName);
    } catch (...) {
      std::remove(Copy.c_str());
      throw;
    }
    std::remove(Copy.c_str());
  } else {
    Quzen->Convert(Entry.FPath, Entry.OutPutFileName);
  }
  if (ChangesFileTimes(S.Formats.Metadata))
    SetOutputTimes(Entry.OutPutFileName, OutputTimesOf(Entry, S.Formats.Metadata));
  return true;
}

bool TMTResizeThread::PassThrough(TImageInfo &Entry, std::string &Warning) {
  std::vector<uint8_t> Bytes;
  ReadEntryBytes(Entry, Bytes);  // an unreadable source raises, and the caller logs it
  const TRunSettings &S = Parent.Settings();
  TCopyOptions Options;
  Options.DeleteInputFile = S.File.DeleteInputFile && !Entry.FIsArchive;
  Options.Formats = S.Formats;
  TCommitRule Rule = CommitRuleFor(Entry, Parent.NotOverwrite, S.File);
  Options.Commit = &Rule;
  Options.DeleteSource = [&Rule, &S](const std::string &Source) {
    DeleteSourceIfAllowed(Source, Rule.Committed, S.File);
  };
  std::unique_ptr<TReadOnlyGuard> Guard = std::make_unique<TReadOnlyGuard>(Entry.OutPutFileName);
  const bool Written =
      CopyJPEGWithoutRecompression(Bytes, Entry.FPath, Entry.OutPutFileName, Entry, EffectParams.RInfo, Options);
  Guard.reset();
  TakeCommittedName(Entry, Rule);
  if (Written && KeepsFileTimes(S.Formats.Metadata))
    SetOutputTimes(Entry.OutPutFileName, OutputTimesOf(Entry, S.Formats.Metadata));
  // The copy is as good as its source; a source cut short is worth knowing about.
  if (!JpegScanReachesEOI(Bytes)) Warning = DAMAGED_SOURCE_COPIED_MSG;
  return true;
}
