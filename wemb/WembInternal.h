// What the entry points of libwemb.so share: the callbacks given to
// init_jpegtran, libjpeg error handling that turns a library error or a
// corrupt-data warning into an exception, and a destination manager that
// hands the encoded bytes to the write callback.
#pragma once

#include "wemb/WembApi.h"

#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace wemb {

struct TWembError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Caption of every message the library shows.
inline constexpr const char *MessageCaption = "WEMB";

// Reports a failure through the message callback (standard error when none was given).
void ShowMessage(const std::string &Text);

// Error manager: errors throw TWembError, warnings are kept so that a file
// with corrupt data is refused instead of coming out with grey blocks.
struct TErrorManager {
  jpeg_error_mgr Pub{};
  std::string FirstWarning;
  void Attach(jpeg_common_struct &Info);
};

// Owns a decompressor reading from memory, with its error manager.
struct TDecoder {
  jpeg_decompress_struct Info{};
  TErrorManager Err;
  TDecoder(const uint8_t *Bytes, uint32_t Count);
  ~TDecoder();
  TDecoder(const TDecoder &) = delete;
  TDecoder &operator=(const TDecoder &) = delete;
  // Reads the header; refuses arithmetic coding and lossless-process files,
  // whose coefficients this library cannot write back.
  void ReadHeader();
  // Throws when the data read so far produced a corrupt-data warning.
  void CheckWarnings() const;
};

// Owns a compressor whose output goes through the write callback into Out,
// or, with Collect, into that vector (for output that may still be dropped).
struct TEncoder {
  jpeg_compress_struct Info{};
  TErrorManager Err;
  explicit TEncoder(void *Out, std::vector<uint8_t> *Collect = nullptr);
  ~TEncoder();
  TEncoder(const TEncoder &) = delete;
  TEncoder &operator=(const TEncoder &) = delete;

 private:
  struct TDest {
    jpeg_destination_mgr Pub{};
    void *Out = nullptr;
    std::vector<uint8_t> *Collect = nullptr;
    std::vector<JOCTET> Buffer;
  } FDest;
  static void InitDest(j_compress_ptr);
  static boolean EmptyBuffer(j_compress_ptr);
  static void TermDest(j_compress_ptr);
  static void Flush(TDest &Dest, size_t Count);
};

// Hands finished bytes to the write callback.
void WriteToStream(void *Out, const std::vector<uint8_t> &Bytes);

// Writes every APPn and COM segment the decoder saved into the encoder's
// output, except the JFIF and Adobe headers that the encoder writes itself.
void CopySavedMarkers(const jpeg_decompress_struct &Src, jpeg_compress_struct &Dst);

// Saves every APPn and COM segment of the file being read.
void SaveAllMarkers(jpeg_decompress_struct &Src);

// Runs Body and turns any failure into a message and a zero result.
template <class F> int Guarded(F &&Body) {
  try {
    Body();
    return 1;
  } catch (const std::exception &e) {
    ShowMessage(e.what());
  } catch (...) {
    ShowMessage("unknown error");
  }
  return 0;
}

}  // namespace wemb
