// The temporary file every saver writes first: it lives in the output folder
// (so the final rename never crosses file systems) and replaces the target
// only on Commit; until then, and after any failure, the target is untouched.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class TOutputFile {
public:
  // Creates "<folder>/.<name>.XXXXXX<ext>" beside Target (the folder is made
  // when missing). Raises ETessivoError when it cannot be created.
  explicit TOutputFile(const std::string &Target);
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
  // Closes, gives the file the target's permissions (or the default ones
  // for a new file) and renames it over the target.
  void Commit();

private:
  std::string FTarget;
  std::string FTempPath;
  int FFd = -1;
  bool FCommitted = false;
};
