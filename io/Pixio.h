// The program's binding to the codec library bin/libpixio.so: the library is
// opened once per process and never closed, every entry point is looked up by
// name, and a missing library or symbol is reported as "LoadLibrary Error".
#pragma once

#include "core/Errors.h"
#include "pixio/PixioApi.h"

#include <string>

// Raised when the codec library or one of its entry points cannot be bound.
// Title is the caption of the warning box; what() carries it and the system's text.
class ELoadLibraryError : public ETessivoError {
public:
  static constexpr const char *Title = "LoadLibrary Error";
  explicit ELoadLibraryError(const std::string &Detail)
      : ETessivoError(std::string(Title) + ": " + Detail), FDetail(Detail) {}
  const std::string &Detail() const { return FDetail; }

private:
  std::string FDetail;
};

class TPixio {
public:
  // Opens the library at Path (see DefaultPath) and binds every entry point.
  // The library stays loaded when the binding goes: callers on other threads
  // may still be inside it, and it keeps its own state (the message callback).
  explicit TPixio(const std::string &Path);
  ~TPixio() = default;
  TPixio(const TPixio &) = delete;
  TPixio &operator=(const TPixio &) = delete;

  // "bin/libpixio.so" beside the running program.
  static std::string DefaultPath();
  const std::string &Path() const { return FPath; }

  decltype(&::read_png) read_png = nullptr;
  decltype(&::read_jpeg) read_jpeg = nullptr;
  decltype(&::read_wic) read_wic = nullptr;
  decltype(&::read_wic_thumbnail) read_wic_thumbnail = nullptr;
  decltype(&::read_wic_info) read_wic_info = nullptr;
  decltype(&::read_wic_info2) read_wic_info2 = nullptr;
  decltype(&::enumextensions) enumextensions = nullptr;
  decltype(&::set_errormsg_callback) set_errormsg_callback = nullptr;

  // Encoders.
  decltype(&::write_jpeg) write_jpeg = nullptr;
  decltype(&::write_jpeg_to_memory) write_jpeg_to_memory = nullptr;
  decltype(&::write_png) write_png = nullptr;
  decltype(&::write_tiff) write_tiff = nullptr;
  decltype(&::write_hdp) write_hdp = nullptr;
  // Bound when the library carries it, null until then.
  decltype(&::create_exif) create_exif = nullptr;

private:
  void *FHandle = nullptr;
  std::string FPath;
};

// The program-wide binding: LoadPixio at start-up (raises ELoadLibraryError
// and leaves the current binding as it was), Pixio() for the calls (null when
// not loaded), FreePixio at shut-down. A binding, once made, lives as long as
// the process, so a TPixio pointer stays valid and names one library for good;
// loading the same path again makes its binding current without reopening.
void LoadPixio(const std::string &Path = TPixio::DefaultPath());
TPixio *Pixio();
void FreePixio();
