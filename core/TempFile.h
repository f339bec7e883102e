// The temporary file every writer of a finished file goes through (savers,
// copies, archive members, settings and table files, the PNG optimiser): it
// lives in the target's folder (so the final rename never crosses file
// systems) and takes the target's place only on Commit; until then, and after
// any failure, the target is untouched.
#pragma once

#include "core/Errors.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// How a finished output takes its place. By default it replaces whatever is
// at the target, which the run decided to overwrite. An exclusive commit
// never replaces a file: another run may have taken the name since it was
// chosen, and then the next candidate name is tried.
struct TCommitRule {
  bool Exclusive = false;
  // The k-th name to try (k = 1, 2, ...) after the target was found taken;
  // empty gives up.
  std::function<std::string(int64_t k)> NextName{};
  std::string Committed{};  // where the last commit under this rule went
};

// Renames From to To unless something exists at To (errno EEXIST then);
// file systems without the no-replace flag get a hard link and an unlink,
// and those without links a check before a plain rename.
bool RenameNoReplace(const std::string &From, const std::string &To);

// Whether a file name has the form of this program's temporary outputs
// (".<name>.XXXXXX<ext>", ".tessivo-..."), which a folder walk must never take as a source.
bool IsOutputTemporaryName(const std::string &FileName);

// Abandoning a run: removes every temporary output that is not committed
// yet and refuses new ones and further commits from then on, so that the
// process can end at once without leaving half-written files behind.
// Answers how many were removed.
int32_t AbandonTemporaryOutputs();

// Raised by TOutputFile with the system's text; SystemError is the errno
// behind it, for callers that word the failure themselves.
class EOutputFileError : public ETessivoError {
public:
  EOutputFileError(const std::string &Message, int Error) : ETessivoError(Message), SystemError(Error) {}
  int SystemError;
};

struct TOutputFileOptions {
  TCommitRule *Rule = nullptr;  // how Commit takes the target's place; null replaces
  bool MakeFolder = true;       // create a missing target folder (else creation fails)
  // Permissions of the committed file; -1 keeps those of the file replaced,
  // or gives a new file 0666 & ~umask.
  int32_t Mode = -1;
  // Flush the data to the disk before the commit. A batch writes thousands of
  // files and leaves this off: the rename alone keeps a failed writer from
  // touching the target. A file rewritten in place, whose only copy is the
  // new one, turns it on.
  bool Sync = false;
};

class TOutputFile {
public:
  // Creates "<folder>/.<name>.XXXXXX<ext>" beside Target (the folder is made
  // when missing). Raises EOutputFileError when it cannot be created. Rule
  // (may be null: replace) decides how Commit takes the target's place.
  explicit TOutputFile(const std::string &Target, TCommitRule *Rule = nullptr);
  TOutputFile(const std::string &Target, const TOutputFileOptions &Options);
  // Removes the temporary file unless it was committed.
  ~TOutputFile();
  TOutputFile(const TOutputFile &) = delete;
  TOutputFile &operator=(const TOutputFile &) = delete;

  int Fd() const { return FFd; }
  const std::string &TempPath() const { return FTempPath; }
  const std::string &Target() const { return FTarget; }

  // Writes all of Data at the current position; raises on a short write.
  void Write(std::span<const uint8_t> Data);
  // Closes the descriptor (for writers that open the path themselves).
  void Close();
  // Closes (after flushing to the disk with Sync), gives the file its
  // permissions (see TOutputFileOptions::Mode) and renames it over the
  // target, or under an exclusive rule to the first free candidate name
  // without replacing anything.
  void Commit();

private:
  void SyncToDisk();

  std::string FTarget;
  TCommitRule *FRule = nullptr;
  int32_t FMode = -1;
  bool FSync = false;
  std::string FTempPath;
  int FFd = -1;
  bool FCommitted = false;
};
