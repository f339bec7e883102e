// ASCII case folding: letters A-Z only, UTF-8 bytes untouched.
#include "core/AsciiCase.h"

#include <gtest/gtest.h>

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
  const struct {
    const char *In;
    const char *Lower;
  } cases[] = {{"IMG_0001.JPG", "img_0001.jpg"}, {"a.TiFF", "a.tiff"}, {"[]@^`{", "[]@^`{"},
               {"ÄÖ.PNG", "ÄÖ.png"},            {"", ""}};
  for (const auto &c : cases) EXPECT_EQ(AsciiLower(std::string(c.In)), c.Lower) << c.In;
}

TEST(AsciiCase, SameTextIgnoresAsciiCaseOnly) {
  EXPECT_TRUE(SameTextAscii("/Out/A.JPG", "/out/a.jpg"));
  EXPECT_FALSE(SameTextAscii("/out/a.jpg", "/out/a.jpeg"));
  EXPECT_FALSE(SameTextAscii("ä", "Ä"));  // two-byte letters are not folded
  EXPECT_FALSE(SameTextAscii("a@", "a`"));  // '@' and '`' are 32 apart but no letters
}
