// Preview of the selected entry as the conversion would make it: the entry
// is loaded, run through the effect chain and brought to 8 bits on a thread
// of its own with its own engines; the window waits without blocking its
// event loop. The picture is shown in the plain viewer window, or handed to
// the configured external viewer through the clipboard.
#pragma once

#include "batch/ImageInfo.h"
#include "io/ImageProbe.h"

#include <QDialog>
#include <QImage>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class TEffectList;

struct TPreviewPicture {
  QImage Image;
  std::string Title;  // file name ":" resampling method
  std::string Error;  // empty when the picture was made
};

// The preview of Entry (index Number of the list, output name OutputName)
// with the program-wide settings and the chain as they are now. Runs the
// work on a thread and waits for it in a local event loop.
TPreviewPicture MakePreviewPicture(TImageInfo &Entry, int32_t Number, const std::string &OutputName,
                                   TEffectList &Effects);
// Combining mode: page PageIndex of the list as it would be combined.
TPreviewPicture MakeCombinedPreviewPicture(TImageInfoList &List, int32_t PageIndex);

// The external viewer's argument list: ViewerPath, then Option split at
// blanks outside double quotes, with "$t" (any case) replaced by Title and
// "$p" by the program folder in double quotes.
std::vector<std::string> ViewerArguments(const std::string &ViewerPath, const std::string &Option,
                                         const std::string &Title, const std::string &ProgramFolder);

// The plain viewer window: the picture fitted into the window, its title,
// and the next and previous commands.
class TPreviewWindow : public QDialog {
  Q_OBJECT
public:
  explicit TPreviewWindow(QWidget *Parent = nullptr);
  void SetPicture(const TPreviewPicture &Picture);
  // Step -1 or +1: the caller rebuilds the picture for the new index.
  std::function<void(int Step)> OnStep;
  QLabel *Picture = nullptr;
  QPushButton *PrevButton = nullptr;
  QPushButton *NextButton = nullptr;

protected:
  void resizeEvent(QResizeEvent *E) override;

private:
  void Fit();
  QImage FImage;
};
