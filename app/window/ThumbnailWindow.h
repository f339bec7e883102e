// The thumbnail window: the selected entry's list thumbnail centred on a
// square canvas in the button-face colour, the file name as caption. The
// thumbnails are made on a thread of its own with its own engines (never a
// batch worker's); only the newest request is made, older ones are dropped.
#pragma once

#include "io/ImageProbe.h"
#include "io/LoadPicture.h"

#include <QImage>
#include <QWidget>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class TThumbnailMaker {
public:
  // Done is called on the maker's thread with the request's serial, the
  // picture (null on failure), the error text and the entry's encoded
  // thumbnail for the list's cache.
  using TDone = std::function<void(uint64_t Serial, const QImage &Image, const std::string &Error,
                                   const std::vector<uint8_t> &Cached)>;
  explicit TThumbnailMaker(TDone Done);
  ~TThumbnailMaker();
  // A copy of the entry's probe fields is made here; answers the serial.
  uint64_t Request(const TImageProbe &Entry, const TListThumbnailOptions &Options);

private:
  void Loop();
  TDone FDone;
  std::mutex FLock;
  std::condition_variable FCond;
  std::optional<std::pair<TImageProbe, TListThumbnailOptions>> FPending;
  uint64_t FSerial = 0;
  bool FQuit = false;
  std::thread FThread;
};

// An 8-bit BGR, BGRA or gray picture (rows bottom-up) as a QImage.
QImage ImageOfBitmap(const TICCImgInfo &Bitmap);

class TThumbnailWindow : public QWidget {
  Q_OBJECT
public:
  explicit TThumbnailWindow(QWidget *Parent = nullptr);
  void SetSide(int Side);
  int Side() const { return FSide; }
  void SetPicture(const QImage &Image, const QString &Caption);
  const QImage &Picture() const { return FImage; }
  // Closing the window chooses "なし".
  std::function<void()> OnClosed;

protected:
  void paintEvent(QPaintEvent *E) override;
  void closeEvent(QCloseEvent *E) override;

private:
  int FSide = 160;
  QImage FImage;
};
