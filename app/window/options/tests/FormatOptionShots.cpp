// Writes a picture of every page of the format dialog, and of the
// quantisation-table registration dialog, into the folder given, for a person
// to look at the layout and the Japanese captions (run it on a display, e.g.
// under xvfb-run). The pages show every group switched on.
#include "app/window/options/FormatOptionForm.h"

#include "batch/FileNameTemplate.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>

int main(int Argc, char **Argv) {
  if (Argc < 2) {
    std::fprintf(stderr, "usage: format-dialog-shots FOLDER\n");
    return 2;
  }
  QApplication App(Argc, Argv);
  const QString Folder = QString::fromLocal8Bit(Argv[1]);
  QDir().mkpath(Folder);
  // A data folder of its own with one registered pair, so the table lists
  // have something to show.
  char Tmpl[] = "/tmp/format-dialog-shots-XXXXXX";
  const std::string Data = ::mkdtemp(Tmpl);
  TQuantizationTableForm Tables(Data);
  {
    std::string J = "\xFF\xD8\xFF\xDB";
    J += char(0), J += char(2 + 2 * 65);
    for (char Id : {0, 1}) {
      J += Id;
      for (int i = 0; i < 64; ++i) J += char(2 + i);
    }
    J += "\xFF\xDA";
    J += std::string("\x00\x02\xFF\xD9", 4);
    std::ofstream(Data + "/sample.jpg", std::ios::binary) << J;
    Tables.Drop(Data + "/sample.jpg");
    Tables.Register("高画質 (カメラ)");
  }
  JPEGOption.DecodeWithDownScaling = 2;
  JPEGOption.UseFileSizeLimit = true;
  PNGOption.TransparentType = 5;
  PNGOption.TransparentColor = 0x00FF8000;
  HDPOption.UseCodecOptions = 1;
  LoadConvertTable({".bmp=.bmp", ".jpg,.jpeg=.jpg", ".png=.png", ".gif=.gif", "未定義=.jpg"});
  MetadataOption.KeepResolution = false;
  TFormatOptionPlace Place = DefaultFormatOptionPlace();
  Place.DataFolder = Data;
  bool Ok = true;
  {
    TFormatOptionForm Form(0, Place);
    Form.JPEGPage->UseQuantizationTable->setChecked(true);
    Form.show();
    for (int Page = 0; Page < Form.Pages->count(); ++Page) {
      Form.Pages->setCurrentIndex(Page);
      App.processEvents();
      Ok = Form.grab().save(QStringLiteral("%1/format-%2.png").arg(Folder).arg(Page)) && Ok;
    }
  }
  {
    TQuantizationTableDialog Dialog(Place);
    Dialog.show();
    App.processEvents();
    Ok = Dialog.grab().save(Folder + QStringLiteral("/quantization-table-prompt.png")) && Ok;
    Dialog.DropFile(QString::fromStdString(Data + "/sample.jpg"));
    Dialog.Name->setText(QStringLiteral("風景用"));
    App.processEvents();
    Ok = Dialog.grab().save(Folder + QStringLiteral("/quantization-table.png")) && Ok;
  }
  std::system(("rm -rf '" + Data + "'").c_str());
  return Ok ? 0 : 1;
}
