// The parameter block in POSIX shared memory. Each run publishes its block
// under a name of its own ("/QuzenParam-" with the process id and a run
// number) and hands the name to its WEMBC processes in the environment, so
// that two runs at once never read each other's block; a tool started
// without the variable reads "/QuzenParam".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The environment variable that carries the block's name to the tool.
inline constexpr const char *WEMB_PARAM_ENV = "TESSIVO_QUZEN_PARAM";
inline constexpr const char *WEMB_PARAM_DEFAULT_NAME = "/QuzenParam";

// Owns one published block: created (0x100000 bytes) and filled on
// construction, unlinked on destruction. A block larger than the mapping is
// refused with ETessivoError before anything is created.
class TWembSharedBlock {
public:
  explicit TWembSharedBlock(std::span<const uint8_t> Block);
  ~TWembSharedBlock();
  TWembSharedBlock(const TWembSharedBlock &) = delete;
  TWembSharedBlock &operator=(const TWembSharedBlock &) = delete;
  const std::string &Name() const { return FName; }

private:
  std::string FName;
};

// Unlinks every block this process has published and not yet released;
// only async-signal-safe calls, so a signal handler may use it before the
// process ends.
void UnlinkWembSharedBlocks();

// The name the tool reads: the environment variable, else "/QuzenParam".
std::string WembParamName();
// The first 0x100000 bytes of the named block; nothing when it does not exist.
std::optional<std::vector<uint8_t>> ReadWembSharedBlock(const std::string &Name);
// Calls Use with the named block as it lies in the mapping (at most 0x100000
// bytes), without copying it: only the pages the reader touches are brought
// in. False, without calling Use, when the block does not exist. The
// mapping is released also when Use throws.
bool UseWembSharedBlock(const std::string &Name, const std::function<void(std::span<const uint8_t>)> &Use);
