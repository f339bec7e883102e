// WEMBC: the console tool that the batch run starts once per JPEG file, as
// "WEMBC -m "input" "output"". Everything else comes from the run's
// parameter block in shared memory; without it the tool does nothing. The
// exit code is always 0: the caller judges by the output file, and the
// reasons for a missing output are printed on standard error.
#include "core/Errors.h"
#include "lossless/WembOption.h"
#include "lossless/WembShared.h"
#include "lossless/WembTool.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

int main(int argc, char **argv) {
  if (argc <= 3 || std::strcmp(argv[1], "-m") != 0) return 0;
  // Ctrl+C in the terminal reaches the whole process group: the tool finishes
  // its one file (its output is committed whole or not at all) and the batch
  // run decides what happens next.
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGHUP, SIG_IGN);
  const std::string input = argv[2], output = argv[3];
  const TWembMessage print = [&](const std::string &Text) {
    std::fprintf(stderr, "WEMBC: %s: %s\n", input.c_str(), Text.c_str());
  };
  try {
    // The block is parsed where it lies in the mapping; the parsed record
    // holds copies of everything the run needs.
    std::optional<TWembParam> param;
    if (!UseWembSharedBlock(WembParamName(), [&](std::span<const uint8_t> Block) { param = ReadWembParam(Block); }))
      return 0;
    RunWembTool(*param, input, output, print);
  } catch (const std::exception &e) {
    print(e.what());
  }
  return 0;
}
