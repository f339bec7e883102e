// Helpers shared by the decoders inside the codec library: error reporting
// through the program's callback, output allocation with the image record's
// stride rule, and the guard that turns every failure into a 0 result.
#pragma once

#include "pixio/PixioApi.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pixio {

// A decoder failure; the message goes to the error callback.
class DecodeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Sends one message to the program's error callback (when one is set).
void ReportMessage(const char *Title, const std::string &Message);
void SetErrorCallback(TPixioErrorProc Proc);

// Largest image the library agrees to allocate: far beyond any real photo,
// small enough that a forged header cannot make us touch absurd amounts of memory.
constexpr uint64_t MaxPixels = uint64_t(1) << 30;
constexpr uint32_t MaxSide = 1u << 20;

// Checks the geometry and allocates Mem/Bpl for it (height rounded up to 4 rows),
// zero-filled. A decoder that writes every row may pass a spare block of the
// caller's instead: it is taken (set to null) when it fits, with whatever bytes
// it holds.
void AllocImage(TPixioDecode &Info, uint32_t Width, uint32_t Height, uint32_t Channels,
                uint32_t BitsPerSample, uint8_t **Spare = nullptr);
// Copies a profile into a page block owned by the record.
void AttachProfile(TPixioDecode &Info, const uint8_t *Data, size_t Len);
// Releases whatever the record holds and clears its image and result fields.
void ReleaseImage(TPixioDecode &Info);

// Row Y of the picture counted from the top, in the record's row order.
inline uint8_t *Row(const TPixioDecode &Info, uint32_t Y, bool TopDown) {
  const uint32_t r = TopDown ? Y : Info.Height - 1 - Y;
  return Info.Mem + size_t(r) * Info.Bpl;
}

// Runs Body; any exception is reported under Title and gives false.
template <class F>
bool Reported(const char *Title, F &&Body) {
  try {
    Body();
    return true;
  } catch (const std::exception &e) {
    ReportMessage(Title, e.what());
  } catch (...) {
    ReportMessage(Title, "unknown error");
  }
  return false;
}

// Runs a decoder; any exception is reported under Title and becomes 0, with
// the record's image memory released.
template <class F>
int Guarded(const char *Title, TPixioDecode *Info, F &&Body) {
  if (!Info) return 0;
  if (Reported(Title, Body)) return 1;
  ReleaseImage(*Info);
  return 0;
}

// Anonymous memory shared with child processes, zero-filled; Data() is null
// when it cannot be mapped.
class SharedBlock {
public:
  explicit SharedBlock(size_t Len);
  ~SharedBlock();
  SharedBlock(const SharedBlock &) = delete;
  SharedBlock &operator=(const SharedBlock &) = delete;
  uint8_t *Data() const { return FData; }

private:
  uint8_t *FData = nullptr;
  size_t FLen = 0;
};

// What a child process leaves for its parent, in shared memory.
struct ChildStatus {
  int32_t Done;  // 1 succeeded, 2 failed with Message
  char Message[256];
};

// Runs Work in a child process, for library code that asserts (aborting the
// whole program), crashes or loops on some inputs. The child leaves no core
// file and prints nothing; Work returns 0 on success or writes its reason
// into the message buffer it is given (Status.Message, so Status must lie in
// shared memory). A child still running after Limit is killed. False with
// Failure set when the work did not succeed: Name is what ran ("JPEG XR
// decoder"), Stopped the text for a child that ended without a reason.
bool RunInChild(ChildStatus &Status, std::chrono::seconds Limit, const char *Name, const char *Stopped,
                const std::function<int(char *Message, size_t MessageLen)> &Work, std::string &Failure);

// Fixed formats the read_wic calls tell apart by their first bytes.
enum class WicFormat { Unknown, Png, Jpeg, Tiff, Gif, WebP, Heif, Jxr, Ico };
WicFormat DetectWicFormat(std::span<const uint8_t> Data);

// Options every decoder shares in the read_wic family.
struct WicRequest {
  bool Thumbnail = false;
};

// The per-format decoders. PNG and JPEG take the row order and sample order
// of their caller; the others always deliver read_wic's layout (top-down,
// 16-bit in R,G,B order).
struct PngLayout {
  bool TopDown = false;
  bool Rgb16 = false;        // 16-bit samples in R,G,B order
  bool WidenGrayAlpha = false;
};
void DecodePng(TPixioDecode &Info, std::span<const uint8_t> Data, const PngLayout &Layout);
void DecodeJpeg(TPixioDecode &Info, std::span<const uint8_t> Data, bool TopDown);
void DecodeTiff(TPixioDecode &Info, std::span<const uint8_t> Data, const WicRequest &Req);
void DecodeGif(TPixioDecode &Info, std::span<const uint8_t> Data);
void DecodeWebP(TPixioDecode &Info, std::span<const uint8_t> Data);
void DecodeHeif(TPixioDecode &Info, std::span<const uint8_t> Data, const WicRequest &Req);
void DecodeJxr(TPixioDecode &Info, std::span<const uint8_t> Data);
void DecodeIco(TPixioDecode &Info, std::span<const uint8_t> Data);

// What the JPEG XR container says, read with every offset checked. With
// Clean, also a copy whose directory keeps only the entries needed for the pixels.
struct JxrFacts {
  uint32_t Width = 0, Height = 0;
  uint8_t Guid[16] = {};
  float XResolution = 0, YResolution = 0;
  uint32_t ProfileOffset = 0, ProfileLen = 0;
  uint32_t ExifIfd = 0;
};
bool ParseJxrContainer(std::span<const uint8_t> Data, JxrFacts &Facts, std::vector<uint8_t> *Clean);

// Size and resolution of a TIFF or BigTIFF file as libtiff reads them, for
// layouts the quick directory walk does not know.
bool ReadTiffFacts(TPixioWICInfo &Info, std::span<const uint8_t> Data);
// Reads the header facts of read_wic_info; returns false for unknown formats.
bool ReadWicInfo(TPixioWICInfo &Info, std::span<const uint8_t> Data);
// Where the TIFF structure handed to ParseExifTiff comes from: an Exif block
// of its own (JPEG APP1, PNG eXIf, WebP EXIF, HEIF Exif item), or the first
// directory of a TIFF or JPEG XR file, which also describes that file's pixels.
enum class ExifSource { Block, FileIfd0 };
// Fills orientation, date, resolution and colour data from a TIFF structure
// ("II*\0" or "MM\0*"); malformed parts are ignored, never read out of bounds.
// HasExif is set when the structure holds something create_exif carries.
void ParseExifTiff(TPixioWICInfo &Info, std::span<const uint8_t> Tiff, bool ResolutionToo,
                   ExifSource Source = ExifSource::Block);
// IFD0 tags of an image file that describe its stored pixels or carry other
// metadata blocks; none of them belongs into the Exif of another file.
bool DescribesSourceFile(uint16_t Tag);

}  // namespace pixio
