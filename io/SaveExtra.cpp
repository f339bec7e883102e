// The JPEG copy without recompression and the external PNG optimiser.
#include "io/SavePicture.h"

#include "core/Errors.h"
#include "io/ExifReader.h"
#include "pixio/ExifTiff.h"
#include "core/PixelConvert.h"
#include "core/ProgramFolder.h"
#include "resample/Resize.h"
#include "core/TempFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

bool ReadWholeFile(const std::string &Path, std::string &Data) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return false;
  Data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool SameFile(const std::string &A, const std::string &B) {
  if (A == B) return true;
  struct stat sa, sb;
  // On this system letter case matters, so two names are one file only when
  // the file system says so (which also covers case-insensitive mounts).
  return ::stat(A.c_str(), &sa) == 0 && ::stat(B.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

// ---------------------------------------------------------------------------
// PNG optimiser

namespace {

// Splits an option string at blanks.
std::vector<std::string> Words(const std::string &Text) {
  std::istringstream in(Text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// A complete PNG: the signature in front and the IEND chunk at the end.
bool LooksLikeCompletePNG(const std::string &Data) {
  static const char Sig[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
  static const char End[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', '\xAE', 'B', '\x60', '\x82'};
  return Data.size() >= 8 + 25 + 12 && std::memcmp(Data.data(), Sig, 8) == 0 &&
         std::memcmp(Data.data() + Data.size() - 12, End, 12) == 0;
}

int NiceOf(int32_t ProcessPriority) {
  switch (ProcessPriority) {
    case 0: return 19;
    case 1: return 10;
    case 3: return -5;
    case 4: return -10;
    default: return 0;
  }
}

// Runs the tool hidden (no terminal output) and waits; true when it exited with 0.
bool RunTool(const std::string &Program, const std::vector<std::string> &Args, int32_t ProcessPriority) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(Program.c_str()));
  for (const std::string &a : Args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, Program.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;
  const int nice = NiceOf(ProcessPriority);
  // Raising the priority needs the permission to; without it the tool stays at normal.
  if (nice != 0) setpriority(PRIO_PROCESS, id_t(pid), nice);
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, 0);
    if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r < 0 && errno == EINTR) continue;
    // SIGCHLD ignored: the child was reaped for us; the result is judged by the file.
    return r < 0 && errno == ECHILD;
  }
}

}  // namespace

std::vector<std::string> PNGOutArguments(const std::string &FileName, const TFormatOptions &Opt) {
  std::string options = Opt.PNG.MaximumOptimization ? "-s0 -y" : "-s1 -y";
  if (Opt.PNG.WritepHYsChunk && Opt.Metadata.KeepICCProfile) options += " -kpHYs,iCCP";
  else if (Opt.PNG.WritepHYsChunk) options += " -kpHYs";
  else if (Opt.Metadata.KeepICCProfile) options += " -kiCCP";
  std::vector<std::string> args{FileName, FileName};
  for (std::string &w : Words(options)) args.push_back(std::move(w));
  return args;
}

bool OptimizePNG(const std::string &FileName, const TSaveContext &Context) {
  const std::string tool = Context.PNGOutPath.empty() ? ProgramBinFolder() + "/pngout" : Context.PNGOutPath;
  if (::access(tool.c_str(), X_OK) != 0) return false;
  std::string original;
  if (!ReadWholeFile(FileName, original)) return false;
  // The tool rewrites a copy; the PNG is replaced only by a complete result,
  // so a tool that fails or dies half-way leaves it as the library wrote it.
  TOutputFile work(FileName);
  work.Write({reinterpret_cast<const uint8_t *>(original.data()), original.size()});
  work.Close();
  if (!RunTool(tool, PNGOutArguments(work.TempPath(), Context.Formats), Context.ProcessPriority)) return false;
  std::string result;
  if (!ReadWholeFile(work.TempPath(), result) || !LooksLikeCompletePNG(result)) return false;
  work.Commit();
  return true;
}

// ---------------------------------------------------------------------------
// JPEG copy without recompression

namespace {

void PutBE16(std::vector<uint8_t> &B, size_t At, uint32_t V) {
  B[At] = uint8_t(V >> 8), B[At + 1] = uint8_t(V);
}

// The 18-byte JFIF APP0 that stands in for a dropped Exif APP1.
std::vector<uint8_t> JfifSegment(uint32_t X, uint32_t Y) {
  std::vector<uint8_t> s{0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 0, 0, 0, 0, 0};
  PutBE16(s, 12, X);
  PutBE16(s, 14, Y);
  return s;
}

bool StartsWith(const uint8_t *P, size_t Len, std::string_view Head) {
  return Len >= Head.size() && std::memcmp(P, Head.data(), Head.size()) == 0;
}

}  // namespace

bool CopyJPEGWithoutRecompression(const std::vector<uint8_t> &Bytes, const std::string &InputPath,
                                  const std::string &OutputPath, const TImageProbe &Entry,
                                  const TResolutionInfo &RInfo, const TCopyOptions &Options) {
  const TFormatOptions &Opt = Options.Formats;
  (void)Entry;
  const size_t n = Bytes.size();
  if (n < 4 || Bytes[0] != 0xFF || Bytes[1] != 0xD8) throw ETessivoError("JPEGファイルではありません: " + InputPath);
  const uint32_t dpi = uint32_t(std::clamp(Opt.Metadata.Resolution, 1, 65535));
  std::vector<uint8_t> out{0xFF, 0xD8};
  out.reserve(n + 32);
  bool modified = false, sawAPP0 = false, complete = false;
  size_t pos = 2;
  while (pos + 4 <= n) {
    if (Bytes[pos] != 0xFF) break;  // not a marker: the file counts as unmodified
    const uint16_t marker = uint16_t(Bytes[pos] << 8 | Bytes[pos + 1]);
    // From the scan (or any frame marker but baseline) on, everything is copied as it is;
    // so are stand-alone markers that carry no length.
    if (marker == 0xFFDA || (marker >= 0xFFC1 && marker <= 0xFFCF) || (marker >= 0xFFD0 && marker <= 0xFFD9) ||
        marker == 0xFF01) {
      out.insert(out.end(), Bytes.begin() + ptrdiff_t(pos), Bytes.end());
      complete = true;
      break;
    }
    const size_t len = size_t(Bytes[pos + 2]) << 8 | Bytes[pos + 3];
    if (len < 2 || pos + 2 + len > n) break;  // a segment past the end of the file
    const uint8_t *payload = Bytes.data() + pos + 4;
    const size_t plen = len - 2;
    std::vector<uint8_t> seg(Bytes.begin() + ptrdiff_t(pos), Bytes.begin() + ptrdiff_t(pos + 2 + len));
    bool keep = true;
    if (marker == 0xFFE0) {
      sawAPP0 = true;
      // "JFIF\0", version, unit, X density, Y density.
      if (!Opt.Metadata.KeepResolution && StartsWith(payload, plen, std::string_view("JFIF\0", 5)) && plen >= 12) {
        seg[4 + 7] = 1;
        PutBE16(seg, 4 + 8, dpi);
        PutBE16(seg, 4 + 10, dpi);
        modified = true;
      }
    } else if (marker == 0xFFE1 && StartsWith(payload, plen, "Exif")) {
      if (!Opt.JPEG.AddExifInfo) {
        keep = false;
        modified = true;
        if (!sawAPP0) {
          uint32_t x = dpi, y = dpi;
          if (Opt.Metadata.KeepResolution) {
            int32_t rx, ry;
            ResolutionToDPI(RInfo, rx, ry);
            if (rx > 1 && ry > 1) x = uint32_t(std::min(rx, 65535)), y = uint32_t(std::min(ry, 65535));
          }
          const auto jfif = JfifSegment(x, y);
          out.insert(out.end(), jfif.begin(), jfif.end());
          sawAPP0 = true;
        }
      } else if (Options.DeleteGPSInfoIFD) {
        try {
          if (BlankGPSInfo(std::span<uint8_t>(seg.data() + 4, plen))) modified = true;
        } catch (const EExifBroken &) {
          seg.assign(Bytes.begin() + ptrdiff_t(pos), Bytes.begin() + ptrdiff_t(pos + 2 + len));
        }
      }
    } else if (marker == 0xFFE2 && StartsWith(payload, plen, "ICC_PROFILE") && !Opt.Metadata.KeepICCProfile) {
      keep = false;
      modified = true;
    }
    if (keep) out.insert(out.end(), seg.begin(), seg.end());
    pos += 2 + len;
  }
  // A walk that did not reach the scan leaves the file as it is.
  if (!complete) modified = false;
  const bool samePath = SameFile(InputPath, OutputPath);
  if (!modified && samePath) return false;
  {
    TReadOnlyGuard readOnly(OutputPath);
    TOutputFile file(OutputPath, Options.Commit);
    if (modified) file.Write(out);
    else file.Write(Bytes);
    file.Commit();
  }
  if (Options.DeleteInputFile && !samePath) {
    if (Options.DeleteSource) Options.DeleteSource(InputPath);
    else ::unlink(InputPath.c_str());
  }
  return true;
}

// ---------------------------------------------------------------------------
// Read-only outputs

TReadOnlyGuard::TReadOnlyGuard(const std::string &FileName) : FFileName(FileName) {
  struct stat st;
  if (::stat(FileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (st.st_mode & S_IWUSR) return;
  FMode = uint32_t(st.st_mode & 07777);
  if (::chmod(FileName.c_str(), mode_t(FMode | S_IWUSR)) != 0) throw ETessivoError(ATTRIBUTE_CHANGE_FAILED);
  FReadOnly = true;
}

TReadOnlyGuard::~TReadOnlyGuard() {
  // The save may have replaced the file: the new one gets the remembered mode.
  if (FReadOnly) ::chmod(FFileName.c_str(), mode_t(FMode));
}
