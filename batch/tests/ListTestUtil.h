// Small real image files and folders for the list and naming tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its
// contents on destruction.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir &) = delete;
  TTempDir &operator=(const TTempDir &) = delete;
  const std::string &Path() const { return FPath; }
  // Path + "/" + Name.
  std::string operator/(const std::string &Name) const { return FPath + "/" + Name; }

private:
  std::string FPath;
};

void MakeDirs(const std::string &Path);
void WriteBytes(const std::string &Path, const std::vector<uint8_t> &Bytes);
// A 24-bit bottom-up BMP of the given size.
void WriteBmp(const std::string &Path, int32_t Width, int32_t Height);
// An 8-bit RGB PNG (stored deflate blocks, real checksums).
void WritePng(const std::string &Path, int32_t Width, int32_t Height);
// A baseline JPEG of the given size (libjpeg).
void WriteJpeg(const std::string &Path, int32_t Width, int32_t Height);
// Sets the modification time (seconds since 1970).
void SetMTime(const std::string &Path, int64_t Seconds);
