// The memory budget: the limits read from the kernel's texts, the automatic
// budget against the page count the C library reports, and the refusal.
#include "core/MemoryBudget.h"

#include "core/Errors.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(MemoryBudget, LimitsAreReadFromTheKernelTexts) {
  const struct {
    const char *Text;
    uint64_t MemTotal;  // as MemTotalOf reads the text
    uint64_t Cgroup;    // as CgroupLimitOf reads it
  } Cases[] = {
      {"MemTotal:       24683728 kB\nMemFree:        18494352 kB\n", 24683728ull * 1024, 0},
      {"MemFree: 1 kB\nMemTotal: 2048 kB", 2048ull * 1024, 0},
      {"max\n", 0, 0},
      {"536870912\n", 0, 536870912},
      {"", 0, 0},
      {"12 MiB", 0, 0},
  };
  for (const auto &C : Cases) {
    SCOPED_TRACE(C.Text);
    EXPECT_EQ(MemTotalOf(C.Text), C.MemTotal);
    EXPECT_EQ(CgroupLimitOf(C.Text), C.Cgroup);
  }
}

TEST(MemoryBudget, AutomaticBudgetIsHalfOfTheUsableMemory) {
  const uint64_t Physical = uint64_t(::sysconf(_SC_PHYS_PAGES)) * uint64_t(::sysconf(_SC_PAGESIZE));
  const uint64_t Usable = UsableMemoryBytes();
  EXPECT_GT(Usable, 0u);
  EXPECT_LE(Usable, Physical);
  EXPECT_EQ(MemoryBudgetBytes(0), Usable / 2);
  EXPECT_EQ(MemoryBudgetBytes(512), 512ull << 20);
}

TEST(MemoryBudget, RefusalNamesTheNeedTheShareAndTheKey) {
  const TMemoryBudget Two{1024ull << 20, 2};
  EXPECT_EQ(Two.Share(), 512ull << 20);
  EXPECT_NO_THROW(CheckMemoryBudget(512ull << 20, Two, "m", "w"));
  EXPECT_NO_THROW(CheckMemoryBudget(~0ull, TMemoryBudget{}, "m", "w"));  // no budget: no limit
  try {
    CheckMemoryBudget((512ull << 20) + 1, Two, "画像サイズが大きすぎます", "decoding 1 x 1 pixels");
    FAIL() << "not refused";
  } catch (const ETessivoError &E) {
    EXPECT_STREQ(E.what(),
                 "画像サイズが大きすぎます (decoding 1 x 1 pixels needs 513 MiB, more than the memory budget of 512 "
                 "MiB per file (1024 MiB shared by 2 workers); System.MemoryBudgetMB sets the budget)");
  }
}
