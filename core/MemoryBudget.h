// How much memory one file's conversion may take, and the check that
// refuses a decode or a resize needing more before anything is allocated.
// A run's budget is a setting, or half of the memory the machine (or the
// control group the process runs in, when that is lower) allows; the
// workers of a run share it evenly, so N files converted at once stay
// within it together.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct TMemoryBudget {
  uint64_t Total = 0;   // bytes for the whole run; 0: no limit
  int32_t Workers = 1;  // files converted at once
  // What one worker may use.
  uint64_t Share() const { return Workers > 1 ? Total / uint64_t(Workers) : Total; }
};

// The key of the settings file that sets the budget, for messages.
inline constexpr const char *MEMORY_BUDGET_KEY = "System.MemoryBudgetMB";

// MemTotal of a /proc/meminfo text, in bytes; 0 when it is not there.
uint64_t MemTotalOf(std::string_view Meminfo);
// A control group's memory limit ("max", or a number of bytes) in bytes; 0
// when there is no limit or the text is not a number.
uint64_t CgroupLimitOf(std::string_view Text);
// The memory this process may use: MemTotal, or the limit of its control
// group (or of a group above it) when that is lower; 0 when unknown.
uint64_t UsableMemoryBytes();
// A run's budget for the setting MemoryBudgetMB: that many MiB, or with 0
// half of UsableMemoryBytes (no limit when that is unknown).
uint64_t MemoryBudgetBytes(int32_t MemoryBudgetMB);

// Bytes as whole MiB, rounded up ("2930 MiB").
std::string MiBText(uint64_t Bytes);

// Raises ETessivoError(Message, detail) when Need is more than a worker's
// share of Budget; the detail says what needs how much ("decoding 32000 x
// 32000 pixels needs 2930 MiB"), the budget and the key that sets it.
void CheckMemoryBudget(uint64_t Need, const TMemoryBudget &Budget, const std::string &Message,
                       const std::string &What);
