// The per-run working folder: "<system temporary folder>/TessivoPlus-" and
// the start time as "ddhhnnsszzz" (day, hour, minute, second, millisecond).
// The program makes it at start-up and removes it with everything in it when
// it ends, also when a signal ends it; every effect and tool puts its working
// files there, each name carrying the worker number so that workers never
// share one.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// $TMPDIR when it names a folder, else "/tmp"; without a trailing "/".
std::string SystemTempFolder();

// "TessivoPlus-" + the local time of Now as "ddhhnnsszzz".
std::string RunTempFolderName(const timespec &Now);

// Owns the folder of one run. Only one may live at a time; RunTempFolder()
// answers its path while it lives.
class TRunTempFolder {
public:
  // Creates "<Parent>/TessivoPlus-ddhhnnsszzz" (Parent empty: the system
  // temporary folder). Another run started in the same millisecond already
  // holds that name; then "-1", "-2", ... is added. Raises ETessivoError when
  // no folder can be made or another TRunTempFolder is alive.
  explicit TRunTempFolder(const std::string &Parent = {});
  // Removes the folder with its contents.
  ~TRunTempFolder();
  TRunTempFolder(const TRunTempFolder &) = delete;
  TRunTempFolder &operator=(const TRunTempFolder &) = delete;

  const std::string &Path() const { return FPath; }

private:
  std::string FPath;
};

// The live run's working folder, without a trailing "/". Raises
// ETessivoError when the program has none (it was not made at start-up).
std::string RunTempFolder();
// RunTempFolder() + "/" + Name.
std::string RunTempPath(const std::string &Name);

// Removes the live run's working folder with its contents at once, using
// only async-signal-safe calls, so that a signal handler or a quick exit may
// call it just before the process ends. Does nothing when there is none.
void RemoveRunTempFolderNow();

// Deletes a working file, retried up to 20 times 50 ms apart while it fails
// (a tool that has just ended may still hold it). True when the file is gone,
// also when it was never there.
bool DeleteWorkFile(const std::string &Path);
