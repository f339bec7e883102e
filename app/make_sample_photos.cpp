// make-sample-photos: writes generated photo-like JPEGs with Exif for the
// demo and the batch benchmark.
//
//   make-sample-photos --demo OUTDIR
//       eight photos of several sizes, landscape and portrait, with Exif
//       orientations and shooting dates
//   make-sample-photos --count N --size WxH [--quality Q] [--orientation O] OUTDIR
//       N photos of one stored size (the benchmark set), with Exif
//       orientation O (1 by default; 6 is a phone held upright)
#include "io/Pixio.h"
#include "batch/SamplePhotos.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: make-sample-photos --demo OUTDIR\n"
               "       make-sample-photos --count N --size WxH [--quality Q] [--orientation O] OUTDIR\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  bool Demo = false;
  int Count = 0, Quality = 92, Orientation = 1;
  unsigned W = 0, H = 0;
  std::string Out;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--demo") Demo = true;
    else if (a == "--count" && i + 1 < argc) Count = std::atoi(argv[++i]);
    else if (a == "--quality" && i + 1 < argc) Quality = std::atoi(argv[++i]);
    else if (a == "--orientation" && i + 1 < argc) Orientation = std::atoi(argv[++i]);
    else if (a == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%ux%u", &W, &H) != 2) return Usage();
    } else if (!a.empty() && a[0] != '-' && Out.empty()) Out = a;
    else return Usage();
  }
  if (Out.empty() || (!Demo && (Count <= 0 || W == 0 || H == 0)) || Orientation < 1 || Orientation > 8) return Usage();
  ::mkdir(Out.c_str(), 0755);
  try {
    LoadPixio();
    std::vector<std::pair<std::string, TSamplePhotoSpec>> Photos;
    if (Demo) {
      const struct {
        unsigned W, H;
        uint16_t Orientation;
        const char *Date;
      } Set[] = {
          {4000, 3000, 1, "2013:07:04 09:12:30"}, {3000, 4000, 1, "2013:07:04 09:15:02"},
          {4000, 3000, 6, "2014:03:21 16:40:11"}, {2400, 1600, 8, "2015:12:24 20:05:59"},
          {1600, 1200, 1, "2016:05:01 07:00:00"}, {1200, 1600, 3, "2016:05:01 07:01:10"},
          {6000, 4000, 1, "2019:10:10 10:10:10"}, {800, 600, 1, ""},
      };
      int n = 1;
      for (const auto &s : Set) {
        TSamplePhotoSpec Desc;
        Desc.Width = s.W;
        Desc.Height = s.H;
        Desc.Orientation = s.Orientation;
        Desc.DateTimeOriginal = s.Date;
        Desc.Quality = Quality;
        Desc.Seed = uint32_t(n);
        char Name[32];
        std::snprintf(Name, sizeof Name, "IMG_%04d.jpg", n++);
        Photos.push_back({Name, Desc});
      }
    } else {
      for (int n = 1; n <= Count; ++n) {
        TSamplePhotoSpec Desc;
        Desc.Width = W;
        Desc.Height = H;
        Desc.Orientation = uint16_t(Orientation);
        char Date[32], Name[32];
        std::snprintf(Date, sizeof Date, "2020:01:%02d 12:00:%02d", 1 + (n - 1) % 28, n % 60);
        Desc.DateTimeOriginal = Date;
        Desc.Quality = Quality;
        Desc.Seed = uint32_t(n);
        std::snprintf(Name, sizeof Name, "IMG_%04d.jpg", n);
        Photos.push_back({Name, Desc});
      }
    }
    for (const auto &[Name, Desc] : Photos) {
      const std::string Path = Out + "/" + Name;
      WriteSamplePhoto(Path, Desc);
      std::printf("%s  %ux%u  orientation %u  %s\n", Path.c_str(), Desc.Width, Desc.Height, Desc.Orientation,
                  Desc.DateTimeOriginal.empty() ? "(no date)" : Desc.DateTimeOriginal.c_str());
    }
  } catch (const std::exception &E) {
    std::fprintf(stderr, "make-sample-photos: %s\n", E.what());
    return 1;
  }
  return 0;
}
