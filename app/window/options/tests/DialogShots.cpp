// Pictures of the plug-in, lossless-JPEG, segment and combining dialogs for
// people to look at: run on a display (Xvfb) with the output folder and a
// plug-in folder; every dialog is shown with its own layout and grabbed.
//   option-dialog-shots OUT_FOLDER PLUGIN_FOLDER
#include "app/window/CombineOptionDialog.h"
#include "app/window/options/QuzenOptionDialog.h"
#include "app/window/options/SegmentInfoDialog.h"
#include "app/window/options/SusiePluginOptionDialog.h"
#include "batch/ConvertOption.h"

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QRadioButton>
#include <QTreeWidget>

#include <cstdio>
#include <string>

namespace {

bool Shoot(QWidget &W, const QString &Path) {
  W.show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const bool Ok = W.grab().save(Path);
  std::printf("%s %s (%dx%d)\n", Ok ? "wrote" : "FAILED", qPrintable(Path), W.width(), W.height());
  W.hide();
  return Ok;
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 3) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER PLUGIN_FOLDER\n", Argv[0]);
    return 2;
  }
  QApplication App(Argc, Argv);
  const QString Out = QString::fromLocal8Bit(Argv[1]);
  bool Ok = true;

  TSPIOption Option;
  Option.SPIDirectory = Argv[2];
  TPluginOrders Orders;
  {
    TSusiePluginOptionDialog D(Option, Orders, "/nonexistent");
    D.PluginList->setCurrentRow(0);
    Ok &= Shoot(D, Out + "/plugin-dialog-images.png");
    D.ArchiveButton->click();
    D.PluginList->setCurrentRow(0);
    Ok &= Shoot(D, Out + "/plugin-dialog-archives.png");
  }
  {
    TWembSettings S;
    S.Segments[1].Check = LongTrue;
    S.Option.ExifImportName = "/home/user/写真/exif.dat";
    TQuzenOptionDialog D(S);
    D.SegmentList->setCurrentItem(D.SegmentList->topLevelItem(1));
    Ok &= Shoot(D, Out + "/lossless-dialog.png");
    D.ProtectModeButton->click();
    Ok &= Shoot(D, Out + "/lossless-dialog-protect.png");
  }
  {
    TSegmentInfo Seg;
    Seg.Marker = JPEG_APP0 + 1;
    Seg.Header = "Exif";
    TSegmentInfoDialog D(Seg);
    Ok &= Shoot(D, Out + "/segment-dialog.png");
    Seg.Marker = JPEG_COM;
    Seg.Header.clear();
    TSegmentInfoDialog C(Seg);
    Ok &= Shoot(C, Out + "/segment-dialog-com.png");
  }
  {
    TCombineOption C;
    TCombineOptionDialog D(C, SystemOption.CustomPalette);
    Ok &= Shoot(D, Out + "/combine-dialog-pixels.png");
    D.SizeBox->setCurrentIndex(1);
    emit D.SizeBox->activated(1);
    Ok &= Shoot(D, Out + "/combine-dialog-percent.png");
  }
  return Ok ? 0 : 1;
}
