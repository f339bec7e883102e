// The program folder is the folder of the running test program, whichever
// way the kernel was asked to start it.
#include "core/ProgramFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

TEST(ProgramFolder, IsTheFolderHoldingTheRunningProgram) {
  // program_invocation_name is the path this test was started by; the build
  // puts every test program in the tests/ folder beside bin/.
  const fs::path started = fs::canonical(fs::absolute(program_invocation_name));
  const std::string folder = ProgramFolder();
  EXPECT_TRUE(fs::equivalent(folder, started.parent_path())) << folder;
  EXPECT_TRUE(fs::equivalent(folder, fs::path(TESSIVO_BIN_DIR) / ".." / "tests")) << folder;
  EXPECT_NE(folder.back(), '/');
}

TEST(ProgramFolder, BinFolderIsBesideTheProgram) {
  EXPECT_EQ(ProgramBinFolder(), ProgramFolder() + "/bin");
}
