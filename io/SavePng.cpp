// The PNG writer and its palette variant (transparent colour, bKGD, pHYs),
// and the external optimiser bin/pngout that may recompress the result.
#include "io/SavePicture.h"

#include "color/ICCUtil.h"
#include "core/PixelConvert.h"
#include "core/ProgramFolder.h"
#include "core/TempFile.h"
#include "io/Pixio.h"
#include "io/SaveInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace saving;

namespace {

uint32_t GrayOfColorRef(uint32_t C) {
  const uint32_t r = C & 0xFF, g = (C >> 8) & 0xFF, b = (C >> 16) & 0xFF;
  const uint32_t y = (r * 299 + g * 587 + b * 114 + 500) / 1000;
  return y | y << 8 | y << 16;
}

void FillPNGRecord(TPixioEncode &e, const TICCImgInfo &Img, const TSaveJob &Job, bool Gray) {
  const TFormatOptions &Opt = Job.Context->Formats;
  e.Filter = Opt.PNG.Filter;
  e.CompressLevel = std::clamp(Opt.PNG.CompressLevel, 0, 9);
  if (Opt.PNG.UsebKGDChunk) {
    const uint32_t bg = Img.hasBGColor ? Img.BGColor : Job.Context->Formats.Background;
    e.BGColor = Gray ? GrayOfColorRef(bg) : (bg & 0xFFFFFF);
    e.WriteBGColor = 1;
  }
  if (Opt.PNG.WritepHYsChunk) {
    if (Opt.Metadata.KeepResolution) {
      int32_t x, y;
      ResolutionToPPM(Job.RInfo, x, y);
      if (x > 0 && y > 0) e.PhysX = x, e.PhysY = y, e.PhysUnit = 1;
      else e.PhysX = e.PhysY = 1, e.PhysUnit = 0;
    } else {
      e.PhysX = e.PhysY = DPIToPPM(Opt.Metadata.Resolution);
      e.PhysUnit = 1;
    }
  }
}

// The colour (0x00RRGGBB) of a corner pixel of an 8-bit 1- or 3-channel image.
uint32_t CornerColor(const TICCImgInfo &Img, int32_t Type) {
  const uint32_t x = (Type == 3 || Type == 4) ? Img.Width - 1 : 0;
  const uint32_t y = (Type == 2 || Type == 4) ? Img.Height - 1 : 0;  // picture rows from the top
  const uint8_t *p = PictureRow(Img, y) + size_t(x) * Img.Channels;
  if (Img.Channels == 1) return uint32_t(p[0]) * 0x010101u;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

void WritePNG(const std::string &FileName, const TPixioEncode &Record, const TSaveJob &Job, bool Optimize) {
  auto write = Entry(Codec().write_png, "write_png");
  TOutputFile out(FileName, CommitRuleOf(Job));
  TLibraryMessageCapture capture;
  if (!write(&Record, out.Fd())) SaveFailed("PNG", FileName, capture.Text());
  out.Close();
  if (Optimize) OptimizePNG(out.TempPath(), *Job.Context);
  out.Commit();
}

}  // namespace

namespace saving {

void PreparePNG(TICCImgInfo &Img) {
  if (Img.IsGrayAlpha && Img.Channels == 4) NarrowToGrayAlpha(Img);
}

}  // namespace saving

bool SaveIndexedPNGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  PreparePNG(Img);
  if (Img.BPP != BPP_8 || (Img.Channels != 1 && Img.Channels != 3)) return false;
  // The transparent colour is read before the pixels become indexes.
  const int32_t type = Opt.PNG.TransparentType;
  bool haveTransparent = false;
  uint32_t transparent = 0;
  if (type >= 1 && type <= 4) {
    transparent = CornerColor(Img, type);
    haveTransparent = true;
  } else if (type == 5) {
    uint32_t c = Opt.PNG.TransparentColor & 0xFFFFFF;  // 0x00BBGGRR from the working space
    if (Job.Context->ColorTransform && Job.Context->ColorTransform->InitWork2DestTransform(Img))
      c = Job.Context->ColorTransform->Work2DestColor(c) & 0xFFFFFF;
    transparent = SwapRedBlue(c);
    const uint32_t r = transparent >> 16, g = (transparent >> 8) & 0xFF, b = transparent & 0xFF;
    haveTransparent = Img.Channels == 3 || (r == g && g == b);
  }
  const bool gray = Img.Channels == 1;
  const TPixioEncode base = BaseRecord(Img, Job);
  // Made while the pixels are still colours: the Exif thumbnail is drawn from them.
  const std::vector<uint8_t> exif = ExifPayloadOf(Img, Job);
  TPaletteInfo pal;
  if (!BuildPalette(Img, true, pal)) return false;
  bool index0 = false;
  if (haveTransparent) {
    for (uint32_t k = 0; k < pal.Count; ++k) {
      if (pal.Colors[k] != transparent) continue;
      if (k != 0) {
        std::swap(pal.Colors[0], pal.Colors[k]);
        for (uint32_t y = 0; y < Img.Height; ++y) {
          uint8_t *row = ScanLine(Img, y);
          for (uint32_t x = 0; x < Img.Width; ++x)
            row[x] = row[x] == 0 ? uint8_t(k) : row[x] == k ? 0 : row[x];
        }
      }
      index0 = true;
      break;
    }
  }
  std::vector<uint8_t> rgb = PaletteTriplets(pal, pal.Count);
  TPixioEncode e = base;
  e.Mem = Img.Mem, e.Bpl = Img.Bpl, e.Channels = 1, e.BitsPerSample = 8;
  // A palette image holds RGB entries, so only an RGB profile fits it.
  if (gray) e.ICCProfile = nullptr, e.ProfileLen = 0;
  FillPNGRecord(e, Img, Job, false);
  e.Palette = rgb.data();
  e.PaletteCount = int32_t(pal.Count);
  e.TransparentIndex0 = index0 ? 1 : 0;
  e.SmallPalette = pal.Count <= 16 ? 1 : 0;
  // Palette images are not filtered.
  e.Filter = 8;
  e.CompressLevel = Opt.PNG.UsePNGOUT ? 1 : std::clamp(Opt.PNG.CompressLevel, 0, 9);
  e.Exif = exif.empty() ? nullptr : exif.data();
  e.ExifLen = uint32_t(exif.size());
  WritePNG(FileName, e, Job, Opt.PNG.UsePNGOUT != 0);
  return true;
}

void SavePNGFile(const std::string &FileName, TICCImgInfo &Img, const TSaveJob &Job) {
  const TFormatOptions &Opt = Job.Context->Formats;
  CheckImage(Img, FileName);
  PreparePNG(Img);
  ApplyDepth(Img, Keeps16Bit(Img, Opt.PNG.Is16Bit, Job.LoadedBitsPerSample));
  const std::vector<uint8_t> exif = ExifPayloadOf(Img, Job);
  TPixioEncode e = BaseRecord(Img, Job);
  FillPNGRecord(e, Img, Job, Img.Channels <= 2);
  e.Exif = exif.empty() ? nullptr : exif.data();
  e.ExifLen = uint32_t(exif.size());
  const bool optimize = Opt.PNG.UsePNGOUT && (Img.Channels == 1 || Opt.PNG.FullColorOptimization);
  if (optimize) e.Filter = 8, e.CompressLevel = 1;
  WritePNG(FileName, e, Job, optimize);
}

// ---------------------------------------------------------------------------
// PNG optimiser

namespace {

bool ReadWholeFile(const std::string &Path, std::string &Data) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return false;
  Data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

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

void SavePreparedPNG(const std::string &Prepared, const std::string &OutPutFileName, const TSaveContext &Context) {
  std::string bytes;
  if (!ReadWholeFile(Prepared, bytes) || !LooksLikeCompletePNG(bytes)) SaveFailed("PNG", OutPutFileName, Prepared);
  TOutputFile out(OutPutFileName, Context.Commit);
  out.Write({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
  out.Close();
  if (Context.Formats.PNG.UsePNGOUT) OptimizePNG(out.TempPath(), Context);
  out.Commit();
}
