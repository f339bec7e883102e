// The naming pass of a run: the output path of every checked entry from the
// template, the overwrite policy and the "[k]" collision numbering, computed
// once before any worker starts, on its own thread.
#pragma once

#include "batch/FileNameTemplate.h"
#include "core/MultiThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class TImageInfoList;
struct TImageInfo;

// Notifications of the naming thread (word parameter: the thread id).
constexpr uint32_t WM_NAMES_DONE = 0x8102;     // WM_APP + 0x102
constexpr uint32_t WM_NAMES_STOPPED = 0x8103;  // WM_APP + 0x103

// What the pass hands back to the controller.
struct TOutputNameTotals {
  int32_t OutputFileCount = 0;  // names produced, -1 when the template is invalid
  int64_t AllSize = 0;          // sum of ceil(w / 256) * ceil(h / 256) over the taking-part entries
  bool Stopped = false;         // left early on a stop request
  int32_t NextNumber = 1;       // the serial number after the last one given out
};

// The resize scale of one entry (the effect chain's CanDownScalingLoad);
// null means (1, 1).
using TScaleOfProc = std::function<TScale(const TImageInfo &)>;

// Logged after the entry's name and its output's path when overwriting is
// on but the output is read-only and the read-only bit is respected.
inline constexpr const char *READ_ONLY_OUTPUT_MSG = "the output is read-only and was left as it is";

// A read-only output: an existing file nobody may write (no write bit at
// all), or one this process may not write.
bool IsReadOnlyOutput(const std::string &Path);

// Name with "[k]" put before its extension: the k-th name tried when Name is taken.
std::string NumberedName(const std::string &Name, int64_t k);

// The pass proper: reads the run's copy of the settings (the file options,
// the conversion mode and the resize options) and no program-wide record,
// and leaves the serial numbers to StoreNextSerialNumber. Pausing: while
// *Suspend is set the pass waits on RunEvent; Stop is polled before every
// entry. CreateFolders false leaves the output folders uncreated (a dry run
// writes nothing).
TOutputNameTotals NameOutputFiles(TImageInfoList &List, std::string Template, const TRunSettings &Settings,
                                  const TScaleOfProc &ScaleOf, const std::atomic<bool> *Stop = nullptr,
                                  const std::atomic<bool> *Suspend = nullptr, TAutoResetEvent *RunEvent = nullptr,
                                  bool CreateFolders = true);
// Where the next run's numbers continue: NextSerialNumber, and the
// program-wide StartNumber when the run's ResetType is 2 (stored). Called on
// the thread that owns the program-wide records.
void StoreNextSerialNumber(const TOutputNameTotals &Totals, const TFileOption &RunFile);
// The pass and then StoreNextSerialNumber, for callers that want no thread.
TOutputNameTotals MakeOutputFileNames(TImageInfoList &List, std::string Template, const TRunSettings &Settings,
                                      const TScaleOfProc &ScaleOf, const std::atomic<bool> *Stop = nullptr,
                                      const std::atomic<bool> *Suspend = nullptr,
                                      TAutoResetEvent *RunEvent = nullptr, bool CreateFolders = true);

class TMakeOutputFileNameThread {
public:
  // Report(message, thread id) is called on the naming thread when it ends.
  using TReportProc = std::function<void(uint32_t Msg, uint64_t ThreadID)>;

  // Created suspended; Resume starts it. Settings is the run's copy, which
  // must outlive the thread; the serial numbers are left to the controller
  // (StoreNextSerialNumber with Totals). Suspend is the controller's pause
  // flag (may be null).
  TMakeOutputFileNameThread(TImageInfoList &List, std::string Template, const TRunSettings &Settings,
                            TReportProc Report, TScaleOfProc ScaleOf = nullptr,
                            const std::atomic<bool> *Suspend = nullptr);
  ~TMakeOutputFileNameThread();  // asks the thread to stop and waits for it
  TMakeOutputFileNameThread(const TMakeOutputFileNameThread &) = delete;
  TMakeOutputFileNameThread &operator=(const TMakeOutputFileNameThread &) = delete;

  void Resume();
  void Terminate();       // stop request; also wakes a paused pass
  void WaitFor();
  uint64_t ThreadID() const { return FThreadID; }
  // Valid after the report.
  const TOutputNameTotals &Totals() const { return FTotals; }

  TAutoResetEvent RunEvent;  // set by the controller to resume after a pause

private:
  TImageInfoList &FList;
  std::string FTemplate;
  const TRunSettings &FSettings;
  TReportProc FReport;
  TScaleOfProc FScaleOf;
  const std::atomic<bool> *FSuspend;
  std::atomic<bool> FTerminated{false};
  TOutputNameTotals FTotals;
  uint64_t FThreadID;
  std::thread FThread;
};
