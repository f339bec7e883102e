// TQuzen: one batch run's side of lossless mode. It publishes the run's
// parameter block (under a name of its own, released with the object) and
// runs WEMBC for one file at a time, from any number of workers at once.
#pragma once

#include "lossless/WembSettings.h"
#include "lossless/WembShared.h"

#include <memory>
#include <string>

class TEffectList;

class TQuzen {
public:
  // Tool: the path of bin/WEMBC.
  explicit TQuzen(std::string Tool);
  ~TQuzen() = default;
  TQuzen(const TQuzen &) = delete;
  TQuzen &operator=(const TQuzen &) = delete;

  // Publishes the block of the settings and the chain's steps; a block over
  // 1 MB raises ETessivoError (the run is refused before any tool starts).
  void InitWembParam(const TWembSettings &Settings, const TEffectList &Effects);
  // Runs the tool for one file and waits for it. A same-file output goes to
  // "<input>.tmp" first and replaces the input only after the tool wrote
  // it. A read-only output is made writable and gets its mode back. Raises
  // ETessivoError with the tool's reason when it wrote no output, or
  // ATTRIBUTE_CHANGE_FAILED when the read-only bit cannot be cleared.
  void Convert(const std::string &InputFile, const std::string &OutputFile);
  // The name under which the block is published (empty before InitWembParam).
  std::string ParamName() const { return hFile ? hFile->Name() : std::string(); }

private:
  // Starts the tool with the block's name in its environment; the exit
  // status (-1 when it could not start) and its standard error in Messages.
  int32_t RunTool(const std::string &Input, const std::string &Output, std::string &Messages) const;

  std::string FTool;
  std::unique_ptr<TWembSharedBlock> hFile;
};
