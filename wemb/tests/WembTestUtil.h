// Helpers of the lossless-JPEG tests: photo-like fixtures encoded by cjpeg,
// outside programs run without a shell, and the library's write callback
// into a string.
#pragma once

#include "testutil/Netpbm.h"
#include "wemb/WembApi.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char **environ;

namespace wembtest {

// Runs Args[0] (looked up in PATH) with its arguments; returns its standard
// output (or its standard error with Stderr set), and its exit status in
// Status (-1 when it could not start).
inline std::string RunProgram(const std::vector<std::string> &Args, int *Status = nullptr, bool Stderr = false) {
  std::vector<char *> argv;
  for (const std::string &a : Args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], Stderr ? 2 : 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  posix_spawn_file_actions_addopen(&fa, Stderr ? 1 : 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string out;
  char buf[1 << 16];
  for (ssize_t n; rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
  close(fds[0]);
  int st = -1;
  if (rc == 0) {
    waitpid(pid, &st, 0);
    st = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  if (Status) *Status = st;
  return out;
}

inline bool HaveProgram(const std::string &Name) {
  int st = -1;
  RunProgram({"sh", "-c", "command -v " + Name}, &st);
  return st == 0;
}

inline std::string ReadFile(const std::filesystem::path &P) {
  std::ifstream f(P, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const std::filesystem::path &P, const std::string &Bytes) {
  std::ofstream(P, std::ios::binary).write(Bytes.data(), std::streamsize(Bytes.size()));
}

// A photo-like PPM: smooth gradients with fine detail everywhere, including
// the last rows and columns, so that a misplaced or trimmed edge block shows.
inline std::string MakePpm(int W, int H) {
  std::string s = "P6\n" + std::to_string(W) + " " + std::to_string(H) + "\n255\n";
  s.reserve(s.size() + size_t(W) * H * 3);
  uint32_t seed = 12345;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int n = int(seed >> 27);  // 0..31
      const bool stripe = ((x / 3) + (y / 5)) % 7 == 0;
      s.push_back(char(uint8_t(x * 200 / W + n + (stripe ? 20 : 0))));
      s.push_back(char(uint8_t(y * 200 / H + (n ^ 9))));
      s.push_back(char(uint8_t((x + y) * 100 / (W + H) + 60 + ((x * y) & 15))));
    }
  return s;
}

// Encodes a fixture with cjpeg; Options such as {"-sample", "2x2"} or {"-grayscale"}.
inline std::string MakeJpeg(const std::filesystem::path &Dir, const std::string &Name, int W, int H,
                            const std::vector<std::string> &Options) {
  const std::filesystem::path ppm = Dir / (Name + ".ppm"), jpg = Dir / (Name + ".jpg");
  WriteFile(ppm, MakePpm(W, H));
  std::vector<std::string> args{"cjpeg", "-quality", "90"};
  args.insert(args.end(), Options.begin(), Options.end());
  args.insert(args.end(), {"-outfile", jpg.string(), ppm.string()});
  RunProgram(args);
  std::filesystem::remove(ppm);
  return jpg.string();
}

// A fixture kept in the build folder between test processes (each CTest case
// is a process of its own); made once, published by rename.
inline std::string CachedJpeg(const std::string &Name, int W, int H, const std::vector<std::string> &Options) {
  const std::filesystem::path dir = std::filesystem::path(TESSIVO_BIN_DIR).parent_path() / "wemb-fixtures";
  const std::filesystem::path final = dir / (Name + ".jpg");
  std::error_code ec;
  if (std::filesystem::exists(final, ec)) return final.string();
  std::filesystem::create_directories(dir, ec);
  const std::string tmp = Name + "-" + std::to_string(getpid());
  const std::string made = MakeJpeg(dir, tmp, W, H, Options);
  std::filesystem::rename(made, final, ec);
  return final.string();
}

// The library's write callback into a std::string stream object.
inline intptr_t AppendToString(void *Stream, const void *Bytes, intptr_t Count) {
  static_cast<std::string *>(Stream)->append(static_cast<const char *>(Bytes), size_t(Count));
  return Count;
}

// Pixels as djpeg decodes them, empty when it cannot.
inline testutil::TNetpbm Decode(const std::string &JpegPath) {
  testutil::TNetpbm img;
  if (!testutil::ParseNetpbm(RunProgram({"djpeg", "-pnm", JpegPath}), img)) return {};
  return img;
}

}  // namespace wembtest
