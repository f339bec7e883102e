#include "core/Errors.h"
#include "batch/SizeRule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SizeRule, TableAndStoredLists) {
  EXPECT_EQ(DefaultSizeList(false), "100,512,384,512,384,100,100,512,512,0,512,512,512,512");
  EXPECT_EQ(DefaultSizeList(true), "0,0,0,0,0,100,100,384,384,0,384,384,384,384");
  for (int32_t r = 0; r < SIZE_RULE_COUNT; ++r)
    EXPECT_EQ(SizeRuleHasTwoValues(r), (r >= 5 && r <= 8) || r >= 10) << r;

  std::array<double, SIZE_RULE_COUNT> v{};
  ParseSizeList("10,x,30", v, false);  // an item that does not parse takes the default
  EXPECT_EQ(v[0], 10);
  EXPECT_EQ(v[1], 512);
  EXPECT_EQ(v[2], 30);
  EXPECT_EQ(v[13], 512);
  v[4] = 0.1;
  v[5] = 1e20;
  ParseSizeList(FormatSizeList(v), v, true);  // values read back unchanged
  EXPECT_EQ(v[4], 0.1);
  EXPECT_EQ(v[5], 1e20);
  EXPECT_EQ(FormatSizeList(v).substr(0, 17), "10,512,30,512,0.1");
}

TEST(SizeRule, HistoryDisplayAndLimit) {
  TSizeRuleHistory h;
  h.Assign(TSizeRuleHistory::DefaultText);
  ASSERT_EQ(h.Count(), 2);
  EXPECT_EQ(h.Entries()[0], "8,640,480");
  EXPECT_EQ(h.Items()[0], "幅 x 高さ(px)      640 x 480");  // caption of 10 characters, padded to 15
  EXPECT_EQ(h.Items()[1], "比率(%)           50");
  EXPECT_EQ(h.Text(), TSizeRuleHistory::DefaultText);

  // Two runs with the same fields leave one entry at the top.
  TResizeOption o;
  TSizeRuleFields f{7, "800", "600", 0};
  EXPECT_EQ(ResolveSizeRule(f, o, h), (TSizeParam{7, 800, 600}));
  EXPECT_EQ(ResolveSizeRule(f, o, h), (TSizeParam{7, 800, 600}));
  ASSERT_EQ(h.Count(), 3);
  EXPECT_EQ(h.Entries()[0], "7,800,600");
  EXPECT_EQ(h.Items()[0], "長辺 x 短辺(px)     800 x 600");
  EXPECT_EQ(o.History, "\"7,800,600\",\"8,640,480\",\"0,50,50\"");

  // Rules with one value repeat the first field; fields are written back in shortest form.
  f = {1, "1024.50", "junk", 0};
  EXPECT_EQ(ResolveSizeRule(f, o, h), (TSizeParam{1, 1024.5, 0}));
  EXPECT_EQ(f.Field1, "1024.5");
  EXPECT_EQ(f.Field2, "0");  // did not parse: the stored Size2[1]
  EXPECT_EQ(h.Entries()[0], "1,1024.5,1024.5");
  EXPECT_EQ(h.Items()[0], "長辺基準(px)        1024.5");

  // Distinct entries push the oldest out once there are more than ten.
  for (int i = 0; i < 6; ++i) {
    f = {0, std::to_string(10 + i), "", 0};
    ResolveSizeRule(f, o, h);
  }
  ASSERT_EQ(h.Count(), 10);
  EXPECT_EQ(h.Entries()[9], "0,50,50");
  f = {0, "99", "", 0};
  ResolveSizeRule(f, o, h);
  ASSERT_EQ(h.Count(), 10);
  EXPECT_EQ(h.Entries()[0], "0,99,99");
  EXPECT_EQ(h.Entries()[9], "8,640,480");
  EXPECT_EQ(h.Items().size(), 10u);

  // Rule 9 takes the selected entry and moves it to the top.
  f = {SIZE_RULE_HISTORY, "", "", 3};
  const std::string picked = h.Entries()[3];
  const TSizeParam p = ResolveSizeRule(f, o, h);
  EXPECT_EQ(h.Entries()[0], picked);
  EXPECT_EQ(f.HistoryIndex, 0);
  EXPECT_EQ(p, h.Split(0));

  // A stored text without quotes is one entry.
  h.Assign("7,800,600");
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.Split(0), (TSizeParam{7, 800, 600}));
}

TEST(SizeRule, BrokenHistoryEntriesRaise) {
  TSizeRuleHistory h;
  for (const char *text : {"\"7,abc,600\"", "\"9,1,2\"", "\"20,1,2\"", "\"7,800\"", "\"1.5,1,1\""}) {
    h.Assign(text);
    EXPECT_THROW(h.Split(0), ETessivoError) << text;
  }
  h.Assign("");
  EXPECT_THROW(h.Split(0), ETessivoError);

  TResizeOption o;
  o.Rule = SIZE_RULE_HISTORY;
  o.History = "\"x\"";
  EXPECT_THROW(ResolveSizeRuleUnattended(o), ETessivoError);
}

TEST(SizeRule, UnattendedAndShownRule) {
  TResizeOption o;
  o.Rule = 7;
  o.Size1[7] = 1000;
  EXPECT_EQ(ResolveSizeRuleUnattended(o), (TSizeParam{7, 1000, 384}));
  o.Rule = SIZE_RULE_HISTORY;
  EXPECT_EQ(ResolveSizeRuleUnattended(o), (TSizeParam{8, 640, 480}));
  o.Rule = 42;
  EXPECT_EQ(ResolveSizeRuleUnattended(o), (TSizeParam{0, 100, 0}));

  // Leaving a rule keeps what parses; saving puts defaults where nothing parses.
  TResizeOption s;
  TSizeRuleFields f{8, "1280", "oops", 0};
  ChangeShownRule(f, s, 3);
  EXPECT_EQ(s.Size1[8], 1280);
  EXPECT_EQ(s.Size2[8], 384);
  EXPECT_EQ(f.Field1, "512");
  EXPECT_EQ(s.Rule, 3);
  s.Size1[3] = 777;
  f.Field1 = "bad";
  StoreShownFields(f, s);
  EXPECT_EQ(s.Size1[3], 512);
}

}  // namespace
