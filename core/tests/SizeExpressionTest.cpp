#include "core/Errors.h"
#include "core/SizeExpression.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SizeExpression, CheckAndSubstitute) {
  struct Case {
    const char *text, *stripped;
    bool ok;
  } cases[] = {
      {"W * 0.5", "W*0.5", true}, {"(w+h)/2", "(w+h)/2", true}, {"", "", true},
      {"w,h", "w,h", false},      {"x*2", "x*2", false},        {"1 2", "12", true},
  };
  for (const Case &c : cases) {
    std::string t = c.text;
    EXPECT_EQ(CheckSizeExpression(t), c.ok) << c.text;
    EXPECT_EQ(t, c.stripped);
  }
  EXPECT_EQ(SubstituteSizeVariables("2w+H", 1000, 50), "21000+50");
  EXPECT_EQ(SubstituteSizeVariables("wh", -1, 7), "-17");
}

TEST(SizeExpression, Evaluate) {
  const struct {
    const char *text;
    double value;
  } values[] = {
      {"(300+100)/2", 200}, {"-300/2", 0}, {"+5", 5},       {"2+3*4", 14},  {"20-4-3", 13},
      {"16/4/2", 2},        {".5", 0.5},   {"5.", 5},       {"-1+3", 2},    {"((7))", 7},
      {"-(2)+5", 3},        {"0", 0},      {"10/4", 2.5},
  };
  for (const auto &v : values) EXPECT_DOUBLE_EQ(EvaluateSizeExpression(v.text), v.value) << v.text;
  EXPECT_DOUBLE_EQ(EvaluateSizeExpression(SubstituteSizeVariables("(w+h)/2", 300, 100)), 200);
  EXPECT_DOUBLE_EQ(EvaluateSizeExpression(SubstituteSizeVariables("-w/2", 300, 100)), 0);

  const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
  for (const std::string &bad : {std::string("300/0"), std::string("(300+100"), std::string("300+100)"),
                                 std::string("1 2"), std::string(""), std::string("1..2"), std::string("2*-3"),
                                 std::string("1;2"), std::string("w"), std::string("()"), std::string("1e3"),
                                 std::string("1+"), deep}) {
    try {
      EvaluateSizeExpression(bad);
      ADD_FAILURE() << "no error for " << bad.substr(0, 20);
    } catch (const ETessivoError &e) {
      EXPECT_STREQ(e.what(), "式の評価でエラーが発生しました");
    }
  }
}

}  // namespace
