// Error callback, output allocation, format detection and the child-process
// runner shared by the decoders and encoders.
#include "pixio/PixioInternal.h"

#include "core/ImgInfo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pixio {

namespace {
std::atomic<TPixioErrorProc> ErrorProc{nullptr};
std::mutex ErrorLock;  // the program's log may not expect concurrent calls

// Large decodes write every byte of a fresh block once; with 2 MB pages the
// kernel takes a few hundred page faults instead of tens of thousands.
void AdviseHugePages(void *P, size_t Len) {
  constexpr uintptr_t huge = uintptr_t(2) << 20;
  if (Len < 4 * huge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(P) + huge - 1) & ~(huge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(P) + Len) & ~(huge - 1);
  if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}
}  // namespace

void ReportMessage(const char *Title, const std::string &Message) {
  TPixioErrorProc proc = ErrorProc.load();
  if (!proc) return;
  std::lock_guard<std::mutex> lock(ErrorLock);
  proc(Title, Message.c_str());
}

void SetErrorCallback(TPixioErrorProc Proc) { ErrorProc.store(Proc); }

void AllocImage(TPixioDecode &Info, uint32_t Width, uint32_t Height, uint32_t Channels,
                uint32_t BitsPerSample, uint8_t **Spare) {
  if (Width == 0 || Height == 0) throw DecodeError("image has no pixels");
  if (Width > MaxSide || Height > MaxSide || uint64_t(Width) * Height > MaxPixels)
    throw DecodeError("image is too large (" + std::to_string(Width) + "x" + std::to_string(Height) + ")");
  if (Channels < 1 || Channels > 4 || (BitsPerSample != 8 && BitsPerSample != 16))
    throw DecodeError("unsupported sample layout");
  if (Info.Mem) PageFree(Info.Mem);
  Info.Mem = nullptr;
  Info.Bpl = BitsPerSample == 16 ? GetAlignedBpl16(Width, Channels) : GetAlignedBpl(Width, Channels);
  const size_t size = size_t(Info.Bpl) * AllocRows(Height);
  const size_t capacity = Spare && *Spare ? PageBlockCapacity(*Spare) : 0;
  // A spare much larger than the image is left to the caller.
  if (capacity >= size && capacity / 2 <= size + (size_t(4) << 20)) {
    Info.Mem = *Spare;
    *Spare = nullptr;
  } else if (Spare) {
    Info.Mem = AllocPixelBlockReused(Info.Bpl, Height);
  } else {
    Info.Mem = AllocPixelBlock(Info.Bpl, Height);
    AdviseHugePages(Info.Mem, size_t(Info.Bpl) * Height);
  }
  Info.Width = Width;
  Info.Height = Height;
  Info.Channels = Channels;
  Info.BitsPerSample = BitsPerSample;
}

void AttachProfile(TPixioDecode &Info, const uint8_t *Data, size_t Len) {
  if (!Data || Len == 0 || Len > 0x7FFFFFFF) return;
  if (Info.ICCProfile) PageFree(Info.ICCProfile);
  Info.ICCProfile = static_cast<uint8_t *>(PageAlloc(Len));
  std::memcpy(Info.ICCProfile, Data, Len);
  Info.ProfileLen = uint32_t(Len);
}

void ReleaseImage(TPixioDecode &Info) {
  if (Info.Mem) PageFree(Info.Mem);
  if (Info.ICCProfile) PageFree(Info.ICCProfile);
  Info.Mem = nullptr;
  Info.ICCProfile = nullptr;
  Info.Width = Info.Height = Info.Bpl = Info.Channels = Info.BitsPerSample = 0;
  Info.ProfileLen = 0;
  Info.BGColor = 0;
  Info.HasBGColor = Info.IsYCbCr = Info.IsCMYK = Info.IsInvertedCMYK = Info.IsGrayAlpha = 0;
  Info.XResolution = Info.YResolution = 0;
  Info.ResolutionUnit = 0;
}

SharedBlock::SharedBlock(size_t Len) {
  void *p = mmap(nullptr, Len, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  FData = static_cast<uint8_t *>(p);
  FLen = Len;
}

SharedBlock::~SharedBlock() {
  if (FData) munmap(FData, FLen);
}

bool RunInChild(ChildStatus &Status, std::chrono::seconds Limit, const char *Name, const char *Stopped,
                const std::function<int(char *Message, size_t MessageLen)> &Work, std::string &Failure) {
  const pid_t pid = fork();
  if (pid < 0) {
    Failure = std::string("cannot start the ") + Name;
    return false;
  }
  if (pid == 0) {
    const rlimit noCore{0, 0};  // a crash on a damaged file leaves no core file behind
    setrlimit(RLIMIT_CORE, &noCore);
    // and prints nothing: the result travels through the status block.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDERR_FILENO), dup2(null, STDOUT_FILENO);
    const int rc = Work(Status.Message, sizeof Status.Message);
    Status.Done = rc == 0 ? 1 : 2;
    _exit(rc == 0 ? 0 : 1);
  }
  const auto limit = std::chrono::steady_clock::now() + Limit;
  int ws = 0;
  for (auto wait = std::chrono::microseconds(200);;) {
    const pid_t r = waitpid(pid, &ws, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno == ECHILD) {
      // The program reaps children itself (SIGCHLD ignored): the status block tells.
      ws = Status.Done == 1 ? 0 : 1 << 8;
      break;
    }
    if (r < 0 && errno != EINTR) {
      Failure = std::string("lost the ") + Name;
      return false;
    }
    if (std::chrono::steady_clock::now() > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &ws, 0);
      Failure = std::string(Name) + " did not finish";
      return false;
    }
    std::this_thread::sleep_for(wait);
    if (wait < std::chrono::milliseconds(20)) wait *= 2;
  }
  if (!WIFEXITED(ws) || WEXITSTATUS(ws) != 0 || Status.Done != 1) {
    Status.Message[sizeof Status.Message - 1] = 0;
    Failure = Status.Done == 2 ? Status.Message : Stopped;
    return false;
  }
  return true;
}

WicFormat DetectWicFormat(std::span<const uint8_t> d) {
  auto starts = [&](std::initializer_list<uint8_t> sig, size_t at = 0) {
    if (d.size() < at + sig.size()) return false;
    return std::equal(sig.begin(), sig.end(), d.begin() + at);
  };
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return WicFormat::Png;
  if (starts({0xFF, 0xD8, 0xFF})) return WicFormat::Jpeg;
  if (starts({'I', 'I', 0x2A, 0x00}) || starts({'M', 'M', 0x00, 0x2A}) ||
      starts({'I', 'I', 0x2B, 0x00}) || starts({'M', 'M', 0x00, 0x2B}))
    return WicFormat::Tiff;
  if (starts({'I', 'I', 0xBC})) return WicFormat::Jxr;
  if (starts({'G', 'I', 'F', '8'})) return WicFormat::Gif;
  if (starts({'R', 'I', 'F', 'F'}) && starts({'W', 'E', 'B', 'P'}, 8)) return WicFormat::WebP;
  if (starts({'f', 't', 'y', 'p'}, 4)) return WicFormat::Heif;
  if (starts({0, 0, 1, 0}) || starts({0, 0, 2, 0})) return WicFormat::Ico;
  return WicFormat::Unknown;
}

}  // namespace pixio
