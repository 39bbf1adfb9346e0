#include <gtest/gtest.h>

#include "lang/language_resource.h"

using namespace kv::lang;

TEST(LanguageResource, LayoutIsCountedUtf16WithCrLfLines) {
  LanguageResource res{{"Exit"}, {{"CH", {"Exit=退出"}}}};
  const auto bytes = WriteLanguageResource(res);
  const std::vector<std::uint8_t> expected = {
      6,    0,    0,    0, 'E',  0, 'x', 0, 'i', 0, 't', 0, '\r', 0, '\n', 0,  // sources
      1,    0,    0,    0,                                                     // one language
      2,    0,    0,    0, 'C',  0, 'H', 0,                                    // short ID
      9,    0,    0,    0, 'E',  0, 'x', 0, 'i', 0, 't', 0, '=',  0, 0x00, 0x90,
      0xFA, 0x51, '\r', 0, '\n', 0};
  EXPECT_EQ(bytes, expected);
  const auto back = ReadLanguageResource(bytes);
  EXPECT_EQ(back.original, res.original);
  EXPECT_EQ(back.languages, res.languages);
}

TEST(LanguageResource, EmptyListsAndNoLanguagesRoundTrip) {
  LanguageResource res{{}, {{"US", {}}, {"CH", {"a=b", "c="}}}};
  const auto back = ReadLanguageResource(WriteLanguageResource(res));
  EXPECT_TRUE(back.original.empty());
  EXPECT_EQ(back.languages, res.languages);
  EXPECT_TRUE(ReadLanguageResource(WriteLanguageResource({})).languages.empty());
}

TEST(LanguageResource, EveryTruncationAndBadCountIsAFormatError) {
  const auto good = WriteLanguageResource({{"One", "Two"}, {{"CH", {"One=1"}}, {"US", {}}}});
  for (std::size_t n = 0; n < good.size(); ++n) {
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + std::ptrdiff_t(n));
    EXPECT_THROW(ReadLanguageResource(cut), LanguageFormatError) << "length " << n;
  }
  // The format has no length of its own: what follows the last language is read past.
  EXPECT_EQ(ReadLanguageResource(good).ignoredBytes, 0u);
  for (const std::vector<std::uint8_t>& tail : {std::vector<std::uint8_t>{0},
                                                {0xFF, 0xFF, 0xFF, 0xFF, 'x'},
                                                {2, 0, 0, 0, 'U', 0, 'S', 0}}) {
    auto extra = good;
    extra.insert(extra.end(), tail.begin(), tail.end());
    const LanguageResource res = ReadLanguageResource(extra);
    EXPECT_EQ(res.ignoredBytes, tail.size());
    EXPECT_EQ(res.original, (std::vector<std::string>{"One", "Two"}));
    ASSERT_EQ(res.languages.size(), 2u);
    EXPECT_EQ(res.languages[0].second, std::vector<std::string>{"One=1"});
    EXPECT_EQ(IgnoredBytesNote(res, "gx.local"), "gx.local: " + std::to_string(tail.size()) +
                                                     " bytes after the last language ignored");
  }

  std::vector<std::uint8_t> negative = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_THROW(ReadLanguageResource(negative), LanguageFormatError);
  std::vector<std::uint8_t> manyLanguages = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_THROW(ReadLanguageResource(manyLanguages), LanguageFormatError);
  std::vector<std::uint8_t> hugeString = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 0};
  try {
    ReadLanguageResource(hugeString);
    FAIL();
  } catch (const LanguageFormatError& e) {
    EXPECT_NE(std::string(e.what()).find("source texts"), std::string::npos) << e.what();
  }
}

TEST(LanguageResource, LinesEndAtEveryTerminatorAndATrailingOneAddsNoLine) {
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd\ve\ff\u2028g\u2029h"),
            (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h"}));
  EXPECT_EQ(SplitLines("a\r\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(SplitLines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitLines("\r\n"), (std::vector<std::string>{""}));
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(SortedLines, LookupIsExactAndAFirstEqualsSignEndsTheName) {
  SortedLines t({"Config=打开配置", "Config=later", "Exit=", "a=b=c", "Config"});
  std::string storage, name;
  ASSERT_NE(t.FindValue("Config", storage), nullptr);
  EXPECT_EQ(storage, "later");  // the first line in sorted order
  EXPECT_EQ(t.FindValue("CONFIG", storage), nullptr);
  ASSERT_NE(t.FindValue("a", storage), nullptr);
  EXPECT_EQ(storage, "b=c");
  EXPECT_EQ(t.FindValue("a=b", storage), nullptr);
  EXPECT_TRUE(t.FindName("b=c", name));
  EXPECT_EQ(name, "a");
  EXPECT_FALSE(t.FindName("nothing", name));
  EXPECT_FALSE(t.Add("Exit="));
  EXPECT_EQ(t.Size(), 5u);
}
