// bin/dedistortion: reprojects one fisheye picture as its script says.
//   dedistortion -o<result.tif> -i<source> -s<script.txt>
// (each value joined to its switch or as the next argument; without -i the
// source is the script's n"..."). The source is read and the result written
// as TIFF through the codec library beside the tool; the result has an alpha
// channel that is zero where the result sees nothing of the source. Any
// failure says why on standard error, exits with 1 and leaves no result file.
#include "core/ImgInfo.h"
#include "core/MultiThread.h"
#include "core/ProgramFolder.h"
#include "io/LoadPicture.h"
#include "io/Pixio.h"
#include "io/SavePicture.h"
#include "tools/dedistortion/LensProjection.h"
#include "tools/dedistortion/LensRemap.h"
#include "tools/dedistortion/LensScript.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

const char *const Usage =
    "usage: dedistortion -o RESULT.tif [-i SOURCE] -s SCRIPT [-t THREADS]\n"
    "Reprojects a fisheye picture by the o, p and m lines of SCRIPT and writes RESULT as TIFF.\n";

struct TArguments {
  std::string Result, Source, Script;
  int32_t Threads = 0;
};

// Answers an empty text when the arguments are usable, else what is wrong.
std::string ParseArguments(int argc, char **argv, TArguments &A) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() < 2 || a[0] != '-') return "unexpected argument \"" + a + "\"";
    std::string value = a.substr(2);
    if (value.empty()) {
      if (i + 1 >= argc) return "\"" + a + "\" needs a value";
      value = argv[++i];
    }
    switch (a[1]) {
      case 'o': A.Result = value; break;
      case 'i': A.Source = value; break;
      case 's': A.Script = value; break;
      case 't':
        A.Threads = std::atoi(value.c_str());
        if (A.Threads < 1 || A.Threads > 1024) return "-t takes 1 to 1024 threads";
        break;
      default: return "unknown switch \"" + a + "\"";
    }
  }
  if (A.Result.empty()) return "no result file (-o)";
  if (A.Script.empty()) return "no script file (-s)";
  return {};
}

std::vector<uint8_t> ReadWholeFile(const std::string &Path, const char *What) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) throw ETessivoError(std::string("cannot read the ") + What + " " + Path + ": " + std::strerror(errno));
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ETessivoError(std::string("cannot read the ") + What + " " + Path);
  return bytes;
}

// A whole file mapped read-only: a large source is read from the page cache
// without a copy (fresh memory would have to be cleared by the kernel first).
class TFileView {
public:
  TFileView(const std::string &Path, const char *What) {
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      const int e = fd < 0 ? errno : EINVAL;
      if (fd >= 0) ::close(fd);
      throw ETessivoError(std::string("cannot read the ") + What + " " + Path + ": " + std::strerror(e));
    }
    FSize = size_t(st.st_size);
    if (FSize > 0) {
      void *p = ::mmap(nullptr, FSize, PROT_READ, MAP_PRIVATE, fd, 0);
      if (p != MAP_FAILED) FData = static_cast<const uint8_t *>(p);
    }
    ::close(fd);
    if (FSize > 0 && !FData) throw ETessivoError(std::string("cannot read the ") + What + " " + Path + ": " + std::strerror(errno));
  }
  ~TFileView() {
    if (FData) ::munmap(const_cast<uint8_t *>(FData), FSize);
  }
  TFileView(const TFileView &) = delete;
  TFileView &operator=(const TFileView &) = delete;
  const uint8_t *Data() const { return FData; }
  size_t Size() const { return FSize; }

private:
  const uint8_t *FData = nullptr;
  size_t FSize = 0;
};

struct TRemapJob {
  const TLensMapping *Mapping;
  TRemapSource Source;
  TRemapRowProc Row;
  TICCImgInfo *Out;  // rows top-down
  size_t SampleBytes;
  std::atomic<int32_t> NextRow{0};
};

// Rows are handed out a few at a time: rows that see nothing of the source
// cost little, so fixed bands would leave threads idle.
void RemapRows(int32_t, int32_t, void *Param) {
  auto &job = *static_cast<TRemapJob *>(Param);
  const int32_t w = job.Mapping->Width(), h = job.Mapping->Height();
  const size_t n = static_cast<size_t>(w);
  std::vector<float> sx(n), sy(n);
  std::vector<uint8_t> valid(n);
  std::vector<uint8_t> four(n * 4 * job.SampleBytes);
  constexpr int32_t Chunk = 8;
  for (;;) {
    const int32_t first = job.NextRow.fetch_add(Chunk);
    if (first >= h) return;
    for (int32_t y = first; y < std::min(first + Chunk, h); ++y) {
      job.Mapping->MapRow(y, sx.data(), sy.data(), valid.data());
      uint8_t *dest = job.Out->Mem + size_t(y) * job.Out->Bpl;
      if (job.Out->Channels == 4) {
        job.Row(job.Source, sx.data(), sy.data(), valid.data(), w, dest);
        continue;
      }
      job.Row(job.Source, sx.data(), sy.data(), valid.data(), w, four.data());
      for (int32_t x = 0; x < w; ++x)
        std::memcpy(dest + size_t(x) * job.SampleBytes, four.data() + size_t(x) * 4 * job.SampleBytes, job.SampleBytes);
    }
  }
}

void Run(const TArguments &A) {
  const std::vector<uint8_t> scriptBytes = ReadWholeFile(A.Script, "script");
  TLensScript script;
  try {
    script = ParseLensScript(std::string_view(reinterpret_cast<const char *>(scriptBytes.data()), scriptBytes.size()));
  } catch (const ELensScriptError &E) {
    throw ETessivoError(A.Script + ": " + E.what());
  }
  const std::string sourcePath = A.Source.empty() ? script.SourceName : A.Source;
  if (sourcePath.empty()) throw ETessivoError("no source file: neither -i nor n\"...\" in the o line");

  LoadPixio(ProgramFolder() + "/libpixio.so");
  const TFileView sourceBytes(sourcePath, "source");
  TICCImgOwner source;
  try {
    LoadWICFromMemory(sourceBytes.Data(), sourceBytes.Size(), *source);
  } catch (const std::exception &E) {
    throw ETessivoError(sourcePath + ": " + E.what());
  }
  const TICCImgInfo &src = *source;
  if (src.PixelFormat == PIXFMT_CMYK || src.IsGrayAlpha || (src.Channels != 1 && src.Channels != 3 && src.Channels != 4))
    throw ETessivoError(sourcePath + ": only gray, RGB and RGBA pictures are reprojected");

  const bool wide = src.BPP != BPP_8;
  const TLensMapping mapping(script, int32_t(src.Width), int32_t(src.Height));
  // The decoded rows are read where they are, bottom-up.
  const TRemapSource remapSource{PictureRow(src, 0), -ptrdiff_t(src.Bpl), int32_t(src.Width), int32_t(src.Height),
                                 int32_t(src.Channels)};

  TICCImgOwner result;
  TICCImgInfo &out = *result;
  out.Width = uint32_t(script.Width), out.Height = uint32_t(script.Height);
  out.Channels = src.Channels == 1 ? 1 : 4;
  out.BPP = wide ? BPP_16 : BPP_8;
  out.PixelFormat = out.Channels == 1 ? PIXFMT_GRAY : PIXFMT_BGRA;
  out.Bpl = wide ? GetAlignedBpl16(out.Width, out.Channels) : GetAlignedBpl(out.Width, out.Channels);
  out.Mem = AllocPixelBlock(out.Bpl, out.Height);

  const TRemapKernels &kernels = BestRemapKernels();
  TRemapJob job{&mapping, remapSource, (wide ? kernels.Row16 : kernels.Row8)[src.Channels], &out, size_t(wide ? 2 : 1)};
  TMultiThread pool(A.Threads > 0 ? A.Threads : LogicalProcessorCount());
  pool.exec_multi_thread_func(RemapRows, &job);

  // The hand-over writer wants rows top-down, as they are here.
  TMetadataOption metadata;
  metadata.UpdateSoftwareTag = 0;
  SaveTIFFForTool(A.Result, out, metadata);
}

}  // namespace

int main(int argc, char **argv) {
  TArguments args;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (const std::string e = ParseArguments(argc, argv, args); !e.empty()) {
    std::fprintf(stderr, "dedistortion: %s\n%s", e.c_str(), Usage);
    return EXIT_USAGE;
  }
  try {
    Run(args);
  } catch (const std::exception &E) {
    std::fprintf(stderr, "dedistortion: %s\n", E.what());
    return EXIT_FAILED;
  }
  return 0;
}
