// The preview.
#include "app/window/PreviewWindow.h"

#include "app/window/ThumbnailWindow.h"
#include "batch/BatchObjects.h"
#include "batch/CombineThread.h"
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "core/ImgInfo.h"
#include "core/PixelConvert.h"
#include "effects/Effect.h"
#include "io/LoadPicture.h"
#include "io/OutputType.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>
#include <thread>

namespace {

// Runs Work on a thread while the calling (GUI) thread keeps handling its
// events; answers when Work is done.
void RunOffTheGuiThread(const std::function<void()> &Work) {
  QEventLoop Loop;
  std::thread Worker([&] {
    Work();
    QMetaObject::invokeMethod(&Loop, [&Loop] { Loop.quit(); }, Qt::QueuedConnection);
  });
  Loop.exec(QEventLoop::ExcludeUserInputEvents);
  Worker.join();
}

}  // namespace

TPreviewPicture MakePreviewPicture(TImageInfo &Entry, int32_t Number, const std::string &OutputName,
                                   TEffectList &Effects) {
  TPreviewPicture Result;
  if (Entry.PictureFormat == 0 && !EnsureProbed(Entry)) {
    Result.Error = Entry.GetName() + ": " + LOAD_FAILED_MSG;
    return Result;
  }
  Effects.LoadExternalImage();
  // Everything the thread reads is copied or made here, on the thread that
  // owns the settings and the prototypes of the engines.
  const TRunSettings Settings = CurrentRunSettings();
  std::unique_ptr<TEngineSet> Engines = TEngineSet::FromPrototypes()->CreateFor(std::max(1, SystemOption.ProcessorCount));
  TImageProbe Probe = Entry;
  const std::string Name = Entry.GetName();
  TScale Scale;
  const bool MayDownscale = Effects.CanDownScalingLoad(Entry, Scale);
  Result.Title = Name + ":" + ResizeModeText(Scale, Settings.Resize);
  RunOffTheGuiThread([&] {
    TEffectParams Params;
    Engines->Bind(Params);
    Params.Preview = true;
    Params.Settings = &Settings;
    Params.OutFileName = OutputName;
    Params.Number = Number;
    Params.Time = Probe.DateTimeOriginal != 0 ? Probe.DateTimeOriginal : Probe.DateTimeLastWrite;
    TICCImgOwner Img;
    try {
      const int32_t Factor = LoadPicture(Probe, *Img, Scale, false, false, Params.ColorTransform, MayDownscale,
                                         OutputTypeOf(OutputName), Settings.Formats, Settings.ColorManagement);
      Effects.DoEffect(*Img, Probe, Params, Factor);
      ConvertTo8Bit(*Img, false);
      Result.Image = ImageOfBitmap(*Img);
    } catch (const std::exception &E) {
      Result.Error = Name + ": " + E.what();
    }
  });
  return Result;
}

TPreviewPicture MakeCombinedPreviewPicture(TImageInfoList &List, int32_t PageIndex) {
  TPreviewPicture Result;
  // The page builder reads the program-wide settings: the window waits with
  // its input shut out meanwhile, so nothing edits them.
  RunOffTheGuiThread([&] {
    TICCImgOwner Page;
    try {
      if (BuildCombinedPreview(List, *Page, PageIndex)) {
        ConvertTo8Bit(*Page, false);
        Result.Image = ImageOfBitmap(*Page);
      } else {
        Result.Error = LOAD_FAILED_MSG;
      }
    } catch (const std::exception &E) {
      Result.Error = E.what();
    }
  });
  return Result;
}

std::vector<std::string> ViewerArguments(const std::string &ViewerPath, const std::string &Option,
                                         const std::string &Title, const std::string &ProgramFolder) {
  std::vector<std::string> Args{ViewerPath};
  std::string Word;
  bool InWord = false, Quoted = false;
  for (size_t i = 0; i < Option.size(); ++i) {
    const char c = Option[i];
    if (c == '"') {
      Quoted = !Quoted;
      InWord = true;
      continue;
    }
    if (!Quoted && (c == ' ' || c == '\t')) {
      if (InWord) Args.push_back(Word), Word.clear(), InWord = false;
      continue;
    }
    if (c == '$' && i + 1 < Option.size()) {
      const char k = char(std::tolower(static_cast<unsigned char>(Option[i + 1])));
      if (k == 't' || k == 'p') {
        // Each argument goes to the viewer as it is, without a shell: the
        // program folder's quotes are part of the text as the option asks.
        Word += k == 't' ? Title : "\"" + ProgramFolder + "\"";
        InWord = true;
        ++i;
        continue;
      }
    }
    Word += c;
    InWord = true;
  }
  if (InWord) Args.push_back(Word);
  return Args;
}

TPreviewWindow::TPreviewWindow(QWidget *Parent) : QDialog(Parent) {
  auto *Layout = new QVBoxLayout(this);
  Picture = new QLabel(this);
  Picture->setAlignment(Qt::AlignCenter);
  Picture->setMinimumSize(200, 150);
  Picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  PrevButton = new QPushButton(QStringLiteral("前へ"), this);
  NextButton = new QPushButton(QStringLiteral("次へ"), this);
  auto *Close = new QPushButton(QStringLiteral("閉じる"), this);
  auto *Row = new QHBoxLayout;
  Row->addWidget(PrevButton);
  Row->addWidget(NextButton);
  Row->addStretch(1);
  Row->addWidget(Close);
  Layout->addWidget(Picture, 1);
  Layout->addLayout(Row);
  connect(PrevButton, &QPushButton::clicked, this, [this] {
    if (OnStep) OnStep(-1);
  });
  connect(NextButton, &QPushButton::clicked, this, [this] {
    if (OnStep) OnStep(1);
  });
  connect(Close, &QPushButton::clicked, this, &QDialog::accept);
  resize(800, 600);
}

void TPreviewWindow::SetPicture(const TPreviewPicture &P) {
  FImage = P.Image;
  setWindowTitle(QString::fromStdString(P.Error.empty() ? P.Title : P.Error));
  Fit();
}

void TPreviewWindow::resizeEvent(QResizeEvent *E) {
  QDialog::resizeEvent(E);
  Fit();
}

void TPreviewWindow::Fit() {
  if (FImage.isNull()) {
    Picture->clear();
    return;
  }
  // Larger pictures are fitted into the window; smaller ones are shown as they are.
  const QSize Room = Picture->size();
  if (FImage.width() > Room.width() || FImage.height() > Room.height())
    Picture->setPixmap(QPixmap::fromImage(FImage.scaled(Room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  else
    Picture->setPixmap(QPixmap::fromImage(FImage));
}
