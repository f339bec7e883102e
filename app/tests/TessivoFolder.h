// A fresh folder for a test that starts the real tessivo: its own settings
// and XDG data folders and a source folder "p" (the working folder), removed
// when the test ends.
#pragma once

#include "app/tests/RunTessivo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testrun {

template <class TBase = ::testing::Test>
class TTessivoFolder : public TBase {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-folder-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    for (const char *Sub : {"/data/ini", "/xdg", "/p"}) std::filesystem::create_directories(Dir + Sub);
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  // Runs tessivo with Args in the source folder and waits for it.
  TRun Run(std::vector<std::string> Args) {
    TRunPlace P;
    P.Env = {"TESSIVOPLUS_DATA=" + Dir + "/data", "XDG_DATA_HOME=" + Dir + "/xdg", "HOME=" + Dir,
             "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    P.WorkDir = Dir + "/p";
    P.ErrPath = Dir + "/stderr.txt";
    return WaitTessivo(StartTessivo(std::move(Args), P), P);
  }

  std::string Dir;
};

}  // namespace testrun
