// Adding to the input list: the enumeration thread TListupThread (folder
// walking, extension filter, probing, duplicate check, archive members,
// symbolic links followed like shortcuts, automatic sorts) and the GUI-free
// adding controller TProgressForm3 that a window or the terminal shows while
// the thread runs.
#pragma once

#include "batch/ImageInfo.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Notifications of the adding thread (word parameter: the thread id).
constexpr uint32_t WM_LISTUP_DONE = 0x8100;     // WM_APP + 0x100
constexpr uint32_t WM_LISTUP_STOPPED = 0x8101;  // WM_APP + 0x101

// What the list needs of the archive plug-ins; the plug-in host installs
// one (ArchiveHost). Without one no file is taken for an archive.
class TArchiveHost {
public:
  virtual ~TArchiveHost() = default;
  // Whether some archive plug-in claims Path by its extension.
  virtual bool ClaimsExtension(const std::string &Path) = 0;
  // The plug-in that supports the file given its first 2048 bytes (zero
  // padded), or null.
  virtual void *PluginFor(const std::string &Path, const uint8_t *Head2048) = 0;
  // The member table (up to the first member with an empty method field).
  virtual bool ReadMembers(const std::string &Path, void *Plugin, std::vector<TArchiveMemberInfo> &Members) = 0;
  // One member's bytes.
  virtual bool Extract(const std::string &Path, void *Plugin, const TArchiveMemberInfo &Member,
                       std::vector<uint8_t> &Bytes) = 0;
  // The first Limit bytes of a member (all of them when it is shorter), for
  // probing without extracting it whole; by default the whole member.
  virtual bool ExtractHead(const std::string &Path, void *Plugin, const TArchiveMemberInfo &Member, uint32_t Limit,
                           std::vector<uint8_t> &Bytes) {
    (void)Limit;
    return Extract(Path, Plugin, Member, Bytes);
  }
};
extern TArchiveHost *ArchiveHost;

// What is logged for a file the user named that cannot be taken, after its
// path and ": ".
inline constexpr const char *NOT_A_FILE_MSG = "not a regular file";
inline constexpr const char *EMPTY_FILE_MSG = "empty file, not an image";
inline constexpr const char *NOT_AN_IMAGE_MSG = "not an image in a format this program reads";
inline constexpr const char *NOT_A_JPEG_MSG = "not a JPEG file, which the lossless mode needs";
inline constexpr const char *EXCLUDED_EXTENSION_MSG = "its extension is not among those to convert (File.TargetExt)";

// How a path is added (TFileOption and ConvertMode when the thread starts).
struct TListupOptions {
  bool CheckExt = false;
  std::string TargetExt;
  bool AddSubFolder = true;
  bool SkipImageCheck = false;  // (SkipImageCheck or AtOnce) and not the JPEGTran mode
  bool JPEGTranMode = false;    // keep only JPEG files (always probed)
  bool SortByName = false;      // AutoSortMode 3, or 1 with AtOnce
  bool SortByDate = false;      // AutoSortMode 4, or 2 with AtOnce
  // The run's file-name template: the folders it writes into below a walked
  // folder ("resize/" beside each source by default) hold the outputs of an
  // earlier run and are not walked. Empty: every folder is walked.
  std::string OutputTemplate;
};

// The fixed folder part of a file-name template: the folders before the
// first one with a token ("resize" of "resize/<old>", "out" of
// "out/<date>/<old>", "/srv/web" of "/srv/web/<old>"); empty when the
// outputs go beside their sources or the first folder is a token.
std::string TemplateOutputFolder(const std::string &Template);
// The options the program-wide settings give.
TListupOptions CurrentListupOptions();

class TListupThread {
public:
  enum class TMode { DropFiles = 0, Files = 1, Folder = 2 };
  using TReportProc = std::function<void(uint32_t Msg, uint64_t ThreadID)>;

  TListupThread(TImageInfoList &List, TMode Mode, std::vector<std::string> Paths, bool IsTemp,
                TListupOptions Options, TReportProc Report);
  ~TListupThread();  // asks the thread to stop and waits for it
  TListupThread(const TListupThread &) = delete;
  TListupThread &operator=(const TListupThread &) = delete;

  void Start();
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  void WaitFor();
  uint64_t ThreadID() const { return FThreadID; }
  // Entries added so far (any thread may ask while the run goes on).
  int32_t Added() const { return FAdded.load(); }

  // The run itself, on the calling thread; answers the message it reports.
  uint32_t Execute();

  std::string BaseDir;
  bool SkipImageCheck = false;

private:
  void ListPath(const std::string &Path);
  void ListFolder(const std::string &Dir);
  // Named: the user gave Path itself (not found by walking a folder), so a
  // file that cannot be taken is reported rather than passed over.
  void ListFile(const std::string &Path, bool Named = false);
  void ListArchive(const std::string &Archive, void *Plugin);
  bool FollowLink(const std::string &Path, bool Named);
  void AddEntry(std::unique_ptr<TImageInfo> Info, bool Named = false);
  std::unique_ptr<TImageInfo> NewEntry() const;

  TImageInfoList &FList;
  TMode FMode;
  std::vector<std::string> FPaths;
  bool FIsTemp;
  TListupOptions FOptions;
  TReportProc FReport;
  std::atomic<bool> FTerminated{false};
  std::atomic<int32_t> FAdded{0};
  std::set<std::pair<uint64_t, uint64_t>> FVisited;  // folders walked (device, inode): links cannot loop
  std::string FOutputFolder;                          // TemplateOutputFolder of the run's template
  std::set<std::string> FOutputFolders;               // where the walked folders' outputs go
  uint64_t FThreadID;
  std::thread FThread;
};

// The adding controller: one of AddDropFiles, AddFiles or AddFolder, then
// ShowModal, which runs the thread and answers 1 when it finished and 2 when
// it was stopped. Close only asks the thread to stop.
class TProgressForm3 {
public:
  explicit TProgressForm3(TImageInfoList &List) : FList(List) {}
  ~TProgressForm3();

  // The view's list (unused here; a window hands its list view).
  void SetListView(void *ListView) { FListView = ListView; }
  void AddDropFiles(std::vector<std::string> Paths);
  void AddFiles(std::vector<std::string> Paths, bool IsTemp);
  void AddFolder(std::string Folder);

  // Options default to CurrentListupOptions() when not given.
  void SetOptions(TListupOptions Options) { FOptions = std::move(Options), FHasOptions = true; }
  int32_t ShowModal();
  void Close();  // from any thread
  // Entries the running thread has added so far (0 when none runs); from
  // any thread, so a window can show how far the adding has come.
  int32_t Listed() const;

  // Called on the adding thread when it reports, before ShowModal returns
  // (a window closes itself, shows the error log and stops its marquee).
  std::function<void(uint32_t Msg)> OnReport;
  std::string Caption = "リストアップ中";

private:
  TImageInfoList &FList;
  void *FListView = nullptr;
  TListupThread::TMode FMode = TListupThread::TMode::Files;
  std::vector<std::string> FPaths;
  bool FIsTemp = false;
  TListupOptions FOptions;
  bool FHasOptions = false;
  mutable std::mutex FLock;  // guards FThread against a Close from another thread
  TListupThread *FThread = nullptr;
  bool FCloseRequested = false;
};
