// A fresh data folder for a test of the settings and launchers: the
// program's data and XDG folders below a temporary folder, the program-wide
// engines, and the default chain read from the (missing) default profile.
// Everything goes when the test ends.
#pragma once

#include "app/SettingsFile.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "effects/Effect.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TProfileSandbox : public ::testing::Test {
protected:
  void SetUp() override {
    char Tmpl[] = "/tmp/tessivo-profile-sandbox-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    ::setenv("TESSIVOPLUS_DATA", (Dir + "/data").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (Dir + "/xdg").c_str(), 1);
    std::filesystem::create_directories(Dir + "/xdg/applications");
    CreateDataFolders();
    SystemOption.ProcessorCount = 2;
    CreateBatchObjects(2);
    CreateDefaultEffects(Effects, Dir);
    LoadIniFile(DefaultSettingsFile(), Effects);
  }
  void TearDown() override {
    FreeBatchObjects();
    ::unsetenv("TESSIVOPLUS_DATA");
    ::unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(Dir);
  }
  std::string Dir;
  TEffectList Effects;
};
