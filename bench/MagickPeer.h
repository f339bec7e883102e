// ImageMagick as the peer of a benchmark: the benchmark's picture written
// once as an MPC file (memory-mapped, so convert's reading costs little),
// and convert run on it with two threads and a given list of operations,
// its output discarded.
#pragma once

#include "core/ImgInfo.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char **environ;

class TMagickPeer {
public:
  // Writes the 8-bit BGR picture Img (rows bottom-up) for convert; Ok()
  // tells whether that worked (it fails without ImageMagick).
  TMagickPeer(const std::string &Tag, const TICCImgInfo &Img) {
    FDir = std::filesystem::temp_directory_path() / (Tag + "_" + std::to_string(getpid()));
    std::filesystem::create_directories(FDir);
    const std::filesystem::path ppm = FDir / "img.ppm";
    FMpc = FDir / "img.mpc";
    if (FILE *f = std::fopen(ppm.c_str(), "wb")) {
      std::fprintf(f, "P6\n%u %u\n255\n", Img.Width, Img.Height);
      std::vector<uint8_t> line(size_t(Img.Width) * 3);
      for (uint32_t y = 0; y < Img.Height; ++y) {
        const uint8_t *row = PictureRow(Img, y);
        for (uint32_t x = 0; x < Img.Width; ++x)
          line[x * 3] = row[x * 3 + 2], line[x * 3 + 1] = row[x * 3 + 1], line[x * 3 + 2] = row[x * 3];
        std::fwrite(line.data(), 1, line.size(), f);
      }
      std::fclose(f);
      FOk = std::system(("convert '" + ppm.string() + "' '" + FMpc.string() + "' >/dev/null 2>&1").c_str()) == 0;
      std::filesystem::remove(ppm);
    }
  }
  ~TMagickPeer() {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  TMagickPeer(const TMagickPeer &) = delete;
  TMagickPeer &operator=(const TMagickPeer &) = delete;

  bool Ok() const { return FOk; }

  // Runs convert on the picture with Operations (none: load only); false when it fails.
  bool Run(const std::vector<std::string> &Operations) const {
    std::vector<std::string> args = {"convert", "-limit", "thread", "2", FMpc.string()};
    args.insert(args.end(), Operations.begin(), Operations.end());
    args.push_back("null:");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, "convert", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

private:
  std::filesystem::path FDir, FMpc;
  bool FOk = false;
};
