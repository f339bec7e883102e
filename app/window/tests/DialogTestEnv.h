// What the effect-dialog tests share: one application on the offscreen
// platform with the codec and resampling libraries and the program-wide
// engines, pictures written to a temporary folder and put in a list, and the
// context a dialog gets from the main window.
#pragma once

#include "app/window/preview/PreviewBaseForm.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "effects/Effect.h"
#include "io/ImageProbe.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace dialogtest {

// One application for the whole run, with the libraries and engines the
// program loads at start-up.
class TEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int Argc = 1;
    static char Name[] = "dialog_tests";
    static char *Argv[] = {Name, nullptr};
    App = new QApplication(Argc, Argv);
    char Tmpl[] = "/tmp/tessivo-dialogs-XXXXXX";
    DataDir = ::mkdtemp(Tmpl);
    ::setenv("TESSIVOPLUS_DATA", (DataDir + "/").c_str(), 1);
    LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
    LoadResizeLibrary(TESSIVO_BIN_DIR);
    SystemOption.ProcessorCount = 2;
    CreateBatchObjects(2);
    ErrorLogForm();
  }
  void TearDown() override {
    FreeBatchObjects();
    FreePixio();
    std::filesystem::remove_all(DataDir);
    delete App;
    App = nullptr;
  }
  QApplication *App = nullptr;
  std::string DataDir;
};

// A W x H picture (Pixel gives its colour at x, y) written as a PNG.
inline void WritePicture(const std::string &Path, int W, int H, const std::function<QRgb(int x, int y)> &Pixel) {
  QImage Img(W, H, QImage::Format_RGB32);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) Img.setPixel(x, y, Pixel(x, y));
  ASSERT_TRUE(Img.save(QString::fromStdString(Path), "PNG")) << Path;
}

// A list of pictures in a folder of its own, the chain with every effect,
// and the context a dialog gets from the main window.
class TDialogFixture {
public:
  TDialogFixture() {
    char Tmpl[] = "/tmp/tessivo-dialog-case-XXXXXX";
    Dir = ::mkdtemp(Tmpl);
    ::PreviewOption = TPreviewOption{};
    ::PreviewOption.ViewMode = 0;
    ::PreviewOption.Left = ::PreviewOption.Top = -1;
    CreateDefaultEffects(Effects, "", true);
    // The pictures reach the dialogs at their own size.
    Effects.FindByID(EFFECT_RESIZE)->SetUse(false);
  }
  ~TDialogFixture() { std::filesystem::remove_all(Dir); }
  // Appends a picture to the list and answers its index.
  int32_t Add(const std::string &Name, int W, int H, const std::function<QRgb(int x, int y)> &Pixel) {
    const std::string Path = Dir + "/" + Name + ".png";
    WritePicture(Path, W, H, Pixel);
    auto Info = std::make_unique<TImageInfo>();
    Info->FPath = Path;
    return List.Add(std::move(Info));
  }
  TPreviewContext Context(int32_t Selected = 0) {
    TPreviewContext Ctx;
    Ctx.List = &List;
    Ctx.SelectedIndex = Selected;
    Ctx.Effects = &Effects;
    Ctx.Option = &::PreviewOption;
    return Ctx;
  }
  std::string Dir;
  TImageInfoList List;
  TEffectList Effects;
};

}  // namespace dialogtest
