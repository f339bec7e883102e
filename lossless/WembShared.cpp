// Publishing and reading the parameter block in POSIX shared memory.
#include "lossless/WembShared.h"

#include "core/Errors.h"
#include "lossless/WembOption.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Names of the live blocks for UnlinkWembSharedBlocks: fixed slots of
// "/dev/shm" paths, so that a signal handler reads them without locks.
constexpr size_t SLOTS = 16, SLOT_LEN = 64;
char GSlotPath[SLOTS][SLOT_LEN];
std::atomic<bool> GSlotUsed[SLOTS];
std::atomic<uint32_t> GRunNumber{0};

void TakeSlot(const std::string &Name) {
  const std::string path = "/dev/shm" + Name;
  if (path.size() >= SLOT_LEN) return;
  for (size_t i = 0; i < SLOTS; ++i) {
    bool expected = false;
    if (GSlotUsed[i].load() || !GSlotUsed[i].compare_exchange_strong(expected, true)) continue;
    std::memcpy(GSlotPath[i], path.c_str(), path.size() + 1);
    return;
  }
}

void FreeSlot(const std::string &Name) {
  const std::string path = "/dev/shm" + Name;
  for (size_t i = 0; i < SLOTS; ++i)
    if (GSlotUsed[i].load() && path == GSlotPath[i]) {
      GSlotPath[i][0] = 0;
      GSlotUsed[i].store(false);
    }
}

}  // namespace

TWembSharedBlock::TWembSharedBlock(std::span<const uint8_t> Block) {
  if (Block.size() > WEMB_PARAM_SIZE)
    throw ETessivoError("the lossless-JPEG parameter block needs " + std::to_string(Block.size()) +
                        " bytes, more than the " + std::to_string(WEMB_PARAM_SIZE) + " bytes of the shared block");
  FName = std::string(WEMB_PARAM_DEFAULT_NAME) + "-" + std::to_string(getpid()) + "-" +
          std::to_string(GRunNumber.fetch_add(1));
  const int fd = shm_open(FName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0) throw ETessivoError("shm_open " + FName + ": " + std::strerror(errno));
  TakeSlot(FName);
  void *map = MAP_FAILED;
  if (ftruncate(fd, off_t(WEMB_PARAM_SIZE)) == 0)
    map = mmap(nullptr, WEMB_PARAM_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  const int err = errno;
  close(fd);
  if (map == MAP_FAILED) {
    shm_unlink(FName.c_str());
    FreeSlot(FName);
    throw ETessivoError("shared memory " + FName + ": " + std::strerror(err));
  }
  if (!Block.empty()) std::memcpy(map, Block.data(), Block.size());
  munmap(map, WEMB_PARAM_SIZE);
}

TWembSharedBlock::~TWembSharedBlock() {
  shm_unlink(FName.c_str());
  FreeSlot(FName);
}

void UnlinkWembSharedBlocks() {
  for (size_t i = 0; i < SLOTS; ++i)
    if (GSlotUsed[i].load() && GSlotPath[i][0]) unlink(GSlotPath[i]);
}

std::string WembParamName() {
  const char *env = std::getenv(WEMB_PARAM_ENV);
  return env && *env ? std::string(env) : std::string(WEMB_PARAM_DEFAULT_NAME);
}

bool UseWembSharedBlock(const std::string &Name, const std::function<void(std::span<const uint8_t>)> &Use) {
  const int fd = shm_open(Name.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  struct stat st{};
  void *map = MAP_FAILED;
  size_t size = 0;
  if (fstat(fd, &st) == 0 && st.st_size > 0) {
    size = std::min(size_t(st.st_size), WEMB_PARAM_SIZE);
    map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  }
  close(fd);
  if (map == MAP_FAILED) return false;
  struct TUnmap {
    void *Map;
    size_t Size;
    ~TUnmap() { munmap(Map, Size); }
  } unmap{map, size};
  Use({static_cast<const uint8_t *>(map), size});
  return true;
}

std::optional<std::vector<uint8_t>> ReadWembSharedBlock(const std::string &Name) {
  std::optional<std::vector<uint8_t>> out;
  UseWembSharedBlock(Name, [&](std::span<const uint8_t> Block) { out.emplace(Block.begin(), Block.end()); });
  return out;
}
