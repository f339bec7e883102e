// One QApplication for a whole test program on Qt's offscreen platform (no
// display needed), made before the program's own statics are used and gone
// at the end of the run. A test file registers it once:
//   [[maybe_unused]] ::testing::Environment *const QtEnvironment =
//       ::testing::AddGlobalTestEnvironment(new windowtest::TOffscreenApplication);
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

namespace windowtest {

class TOffscreenApplication : public ::testing::Environment {
public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int Argc = 1;
    static char Name[] = "window_tests";
    static char *Argv[] = {Name, nullptr};
    App = new QApplication(Argc, Argv);
  }
  void TearDown() override {
    delete App;
    App = nullptr;
  }
  QApplication *App = nullptr;
};

}  // namespace windowtest
