// What a test needs from outside itself: the project's run-time libraries and
// tools in bin/, the shared test data beside the checkout (../shared/testdata)
// and the outside programs used as references. A local run without one skips
// the test and says what is missing; a CI run (CI=true) fails it instead,
// because there everything is built and installed and a skip would hide a
// broken build or set-up.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace testenv {

inline bool InCI() {
  const char *ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

// What a missing prerequisite counts as in this run.
inline ::testing::TestPartResult::Type MissingResult() {
  return InCI() ? ::testing::TestPartResult::kFatalFailure : ::testing::TestPartResult::kSkip;
}

// A folder of the shared test data, or empty when it is not there.
inline std::string TestDataDir(const std::string &Sub) {
  const std::filesystem::path p = std::filesystem::path(TESSIVO_TESTDATA_DIR) / Sub;
  std::error_code ec;
  return std::filesystem::is_directory(p, ec) ? p.string() : std::string();
}

// A file the build puts in bin/ (run-time library or tool), or empty when it is not there.
inline std::string BinFile(const std::string &Name) {
  const std::filesystem::path p = std::filesystem::path(TESSIVO_BIN_DIR) / Name;
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec) ? p.string() : std::string();
}

}  // namespace testenv

// Leaves the current function when Cond does not hold: a skip in a local run,
// a fatal failure under CI. Takes a message like the gtest macros:
//   TESSIVO_REQUIRE(!dir.empty()) << "no bmpsuite in ../shared/testdata";
// The switch keeps a following else from binding to the hidden if.
#define TESSIVO_REQUIRE(Cond)                                                                                \
  switch (0)                                                                                                 \
  case 0:                                                                                                    \
  default:                                                                                                   \
    if (Cond)                                                                                                \
      ;                                                                                                      \
    else                                                                                                     \
      return ::testing::internal::AssertHelper(::testenv::MissingResult(), __FILE__, __LINE__,              \
                                               ::testenv::InCI() ? "missing under CI=true: " #Cond          \
                                                                 : "skipped, missing: " #Cond) = ::testing::Message()
