// Memory over a long batch: 1,000 small JPEGs with Exif and an extra segment
// converted by the batch controller in runs of 100, the live page blocks and
// the resident memory printed after every run. Both must stay flat after the
// first files: a block that outlives its file shows as a count that climbs.
//
//   bench/bench_batch_memory [FILES [PER_RUN]]
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/ErrorLogFrm.h"
#include "batch/ImageInfo.h"
#include "batch/ProgressFrm.h"
#include "batch/SamplePhotos.h"
#include "core/ImgInfo.h"
#include "effects/Effect.h"
#include "io/FormatOption.h"
#include "io/ImageProbe.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

// Resident memory of this process in KiB, from /proc/self/status.
long ResidentKiB() {
  std::ifstream In("/proc/self/status");
  std::string Line;
  while (std::getline(In, Line))
    if (Line.rfind("VmRSS:", 0) == 0) return std::atol(Line.c_str() + 6);
  return -1;
}

// A 160 x 120 photo with Exif (date) and a comment segment after SOI.
void WritePhoto(const std::string &Path, uint32_t Seed) {
  TSamplePhotoSpec Desc;
  Desc.Width = 160;
  Desc.Height = 120;
  Desc.Seed = Seed;
  Desc.DateTimeOriginal = "2013:07:04 12:00:00";
  WriteSamplePhoto(Path, Desc);
  std::ifstream In(Path, std::ios::binary);
  std::string Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  In.close();
  Bytes.insert(2, std::string("\xFF\xFE\x00\x07hello", 9));
  std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

}  // namespace

int main(int argc, char **argv) {
  const int Files = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int PerRun = argc > 2 ? std::atoi(argv[2]) : 100;
  if (Files < 1 || PerRun < 1) {
    std::fprintf(stderr, "usage: bench_batch_memory [FILES [PER_RUN]]\n");
    return 2;
  }
  LoadPixio(std::string(TESSIVO_BIN_DIR) + "/libpixio.so");
  LoadResizeLibrary(TESSIVO_BIN_DIR);
  SystemOption.ProcessorCount = 2;
  SystemOption.MaxThread = 2;
  SystemOption.ParallelProcessing = true;
  CreateBatchObjects(2);
  MetadataOption.KeepAllExtraMarker = 1;

  std::string Tmpl = std::filesystem::temp_directory_path().string() + "/tessivo-bench-memory-XXXXXX";
  const std::string Dir = ::mkdtemp(Tmpl.data());
  std::filesystem::create_directories(Dir + "/in");
  FileOption.FileNameFormat = Dir + "/out/<old>";
  FileOption.SameDirectory = false;
  TEffectList Effects;
  CreateDefaultEffects(Effects, TESSIVO_BIN_DIR);
  Effects.SetResizeParam(1, 96, 0);  // long side 96: every file is decoded and encoded

  std::printf("%8s %12s %14s %12s %8s\n", "files", "page blocks", "block bytes", "VmRSS KiB", "errors");
  const TPageBlockCount Start = LivePageBlocks();
  std::printf("%8d %12zu %14zu %12ld %8d\n", 0, Start.Blocks, Start.Bytes, ResidentKiB(), 0);
  int Done = 0;
  int Errors = 0;
  while (Done < Files) {
    const int Count = std::min(PerRun, Files - Done);
    TImageInfoList List;
    for (int i = 0; i < Count; ++i) {
      const std::string Path = Dir + "/in/P" + std::to_string(Done + i + 1) + ".jpg";
      WritePhoto(Path, uint32_t(Done + i + 1));
      auto E = std::make_unique<TImageInfo>();
      if (!ProbeImageFile(Path, *E)) {
        std::fprintf(stderr, "%s: not probed\n", Path.c_str());
        return 1;
      }
      E->Checked = true;
      List.Add(std::move(E));
    }
    {
      TProgressForm Form(List, Effects);
      Form.ShowModal();
    }
    Errors += ErrorLogForm().GetErrorCount();
    for (const std::string &Line : ErrorLogForm().TakeMessages()) std::fprintf(stderr, "%s\n", Line.c_str());
    Done += Count;
    const TPageBlockCount Now = LivePageBlocks();
    std::printf("%8d %12zu %14zu %12ld %8d\n", Done, Now.Blocks, Now.Bytes, ResidentKiB(), Errors);
    std::fflush(stdout);
  }
  std::filesystem::remove_all(Dir);
  FreeBatchObjects();
  FreePixio();
  return Errors == 0 ? 0 : 1;
}
