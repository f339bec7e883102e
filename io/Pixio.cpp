// Run-time binding of the codec library.
#include "io/Pixio.h"

#include "core/ImgInfo.h"
#include "core/ProgramFolder.h"

#include <dlfcn.h>

#include <atomic>
#include <cstddef>
#include <forward_list>
#include <mutex>

// The quality record is handed to the library as the image record's own field.
static_assert(sizeof(TPixioQualityInfo) == sizeof(TJPEGQualityInfo));
static_assert(offsetof(TPixioQualityInfo, QT) == offsetof(TJPEGQualityInfo, QT));
static_assert(offsetof(TPixioQualityInfo, CompInfo) == offsetof(TJPEGQualityInfo, CompInfo));
// The image fields of the decode record are the image record's first five.
static_assert(offsetof(TPixioDecode, Channels) == offsetof(TICCImgInfo, Channels));
static_assert(offsetof(TPixioEncode, Channels) == offsetof(TICCImgInfo, Channels));
static_assert(offsetof(TPixioImage, Channels) == offsetof(TICCImgInfo, Channels));

namespace {

std::string LastDlError() {
  const char *e = dlerror();
  return e ? e : "unknown error";
}

template <class F>
void Bind(void *Handle, F &Fn, const char *Name, bool Required) {
  dlerror();
  void *p = dlsym(Handle, Name);
  if (!p) {
    const std::string why = LastDlError();
    if (Required) throw ELoadLibraryError(why);
  }
  Fn = reinterpret_cast<F>(p);
}

std::mutex BindingLock;
// Every binding made, never freed (see LoadPixio).
std::forward_list<TPixio> &Bindings = *new std::forward_list<TPixio>;
std::atomic<TPixio *> Current{nullptr};

// Under AddressSanitizer the codec library stays mapped after its last close:
// the leak check at exit must still see the memory that its globals (and
// those of the codec libraries it pulls in) hold, or it reports all of it.
#if defined(__SANITIZE_ADDRESS__)
constexpr int KeepMapped = RTLD_NODELETE;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int KeepMapped = RTLD_NODELETE;
#else
constexpr int KeepMapped = 0;
#endif
#else
constexpr int KeepMapped = 0;
#endif

}  // namespace

TPixio::TPixio(const std::string &Path) : FPath(Path) {
  FHandle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL | KeepMapped);
  if (!FHandle) throw ELoadLibraryError(LastDlError());
  try {
    Bind(FHandle, read_png, "read_png", true);
    Bind(FHandle, read_jpeg, "read_jpeg", true);
    Bind(FHandle, read_wic, "read_wic", true);
    Bind(FHandle, read_wic_thumbnail, "read_wic_thumbnail", true);
    Bind(FHandle, read_wic_info, "read_wic_info", true);
    Bind(FHandle, read_wic_info2, "read_wic_info2", true);
    Bind(FHandle, enumextensions, "enumextensions", true);
    Bind(FHandle, set_errormsg_callback, "set_errormsg_callback", true);
    Bind(FHandle, write_jpeg, "write_jpeg", true);
    Bind(FHandle, write_jpeg_to_memory, "write_jpeg_to_memory", true);
    Bind(FHandle, write_png, "write_png", true);
    Bind(FHandle, write_tiff, "write_tiff", true);
    Bind(FHandle, write_hdp, "write_hdp", true);
    Bind(FHandle, create_exif, "create_exif", false);
  } catch (...) {
    dlclose(FHandle);
    throw;
  }
}

std::string TPixio::DefaultPath() {
  return ProgramBinFolder() + "/libpixio.so";
}

void LoadPixio(const std::string &Path) {
  std::lock_guard guard(BindingLock);
  for (TPixio &lib : Bindings)
    if (lib.Path() == Path) {
      Current.store(&lib);
      return;
    }
  Bindings.emplace_front(Path);
  Current.store(&Bindings.front());
}

TPixio *Pixio() { return Current.load(); }

void FreePixio() { Current.store(nullptr); }
