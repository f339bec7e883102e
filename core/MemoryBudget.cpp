// The memory budget of a run and its check.
#include "core/MemoryBudget.h"

#include "core/Errors.h"

#include <charconv>
#include <fstream>
#include <iterator>

namespace {

std::string ReadText(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

std::string_view Trimmed(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t' || S.back() == '\n' || S.back() == '\r')) S.remove_suffix(1);
  return S;
}

// The lowest limit of the group Path (as /proc/self/cgroup names it, "/a/b")
// and the groups above it, read from File in each group's folder below
// Mount; 0 when none has one. In a container the process's own group may be
// the mount's root, so the walk goes all the way up.
uint64_t GroupTreeLimit(const std::string &Mount, std::string Path, const char *File) {
  uint64_t Lowest = 0;
  for (;;) {
    uint64_t L = CgroupLimitOf(ReadText(Mount + Path + "/" + File));
    // Version 1 says "no limit" with a number near the largest page-aligned value.
    if (L >= (uint64_t(1) << 62)) L = 0;
    if (L > 0 && (Lowest == 0 || L < Lowest)) Lowest = L;
    if (Path.empty()) break;
    const auto p = Path.find_last_of('/');
    Path = p == std::string::npos ? std::string() : Path.substr(0, p);
  }
  return Lowest;
}

// The lowest limit of the process's control groups, version 2 and version 1; 0 when none.
uint64_t OwnGroupLimit() {
  const std::string Groups = ReadText("/proc/self/cgroup");
  uint64_t Lowest = 0;
  size_t Start = 0;
  while (Start < Groups.size()) {
    size_t End = Groups.find('\n', Start);
    if (End == std::string::npos) End = Groups.size();
    const std::string_view Line(Groups.data() + Start, End - Start);
    Start = End + 1;
    const auto a = Line.find(':'), b = Line.find(':', a + 1);
    if (a == std::string_view::npos || b == std::string_view::npos) continue;
    const std::string_view Controllers = Line.substr(a + 1, b - a - 1);
    std::string Path(Line.substr(b + 1));
    if (Path == "/") Path.clear();
    uint64_t L = 0;
    if (Line.rfind("0::", 0) == 0)
      L = GroupTreeLimit("/sys/fs/cgroup", Path, "memory.max");
    else if (Controllers.find("memory") != std::string_view::npos)
      L = GroupTreeLimit("/sys/fs/cgroup/memory", Path, "memory.limit_in_bytes");
    if (L > 0 && (Lowest == 0 || L < Lowest)) Lowest = L;
  }
  return Lowest;
}

}  // namespace

uint64_t MemTotalOf(std::string_view Meminfo) {
  const auto p = Meminfo.find("MemTotal:");
  if (p == std::string_view::npos) return 0;
  std::string_view Rest = Trimmed(Meminfo.substr(p + 9, Meminfo.find('\n', p) - p - 9));
  uint64_t KiB = 0;
  const auto [End, Ec] = std::from_chars(Rest.data(), Rest.data() + Rest.size(), KiB);
  if (Ec != std::errc()) return 0;
  return KiB * 1024;  // the kernel writes "kB" and means KiB
}

uint64_t CgroupLimitOf(std::string_view Text) {
  Text = Trimmed(Text);
  uint64_t V = 0;
  const auto [End, Ec] = std::from_chars(Text.data(), Text.data() + Text.size(), V);
  if (Ec != std::errc() || End != Text.data() + Text.size()) return 0;  // "max", empty or garbage
  return V;
}

uint64_t UsableMemoryBytes() {
  const uint64_t Total = MemTotalOf(ReadText("/proc/meminfo"));
  const uint64_t Group = OwnGroupLimit();
  if (Group > 0 && (Total == 0 || Group < Total)) return Group;
  return Total;
}

uint64_t MemoryBudgetBytes(int32_t MemoryBudgetMB) {
  if (MemoryBudgetMB > 0) return uint64_t(MemoryBudgetMB) << 20;
  return UsableMemoryBytes() / 2;
}

std::string MiBText(uint64_t Bytes) { return std::to_string((Bytes + (uint64_t(1) << 20) - 1) >> 20) + " MiB"; }

void CheckMemoryBudget(uint64_t Need, const TMemoryBudget &Budget, const std::string &Message,
                       const std::string &What) {
  if (Budget.Total == 0 || Need <= Budget.Share()) return;
  std::string Detail = What + " needs " + MiBText(Need) + ", more than the memory budget of " +
                       MiBText(Budget.Share()) + " per file";
  if (Budget.Workers > 1)
    Detail += " (" + MiBText(Budget.Total) + " shared by " + std::to_string(Budget.Workers) + " workers)";
  Detail += "; " + std::string(MEMORY_BUDGET_KEY) + " sets the budget";
  throw ETessivoError(Message, Detail);
}
