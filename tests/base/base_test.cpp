#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "base/path.h"
#include "base/strings.h"
#include "base/utf16.h"

namespace {

TEST(Utf16, RoundTripsBmpAndSupplementaryTextAndReplacesBrokenInput) {
  const std::string text = "Profile 打开配置 \xF0\x9F\x96\xB1";  // CJK and a mouse emoji
  const std::u16string u = kv::Utf8ToUtf16(text);
  EXPECT_EQ(u.size(), 15u);  // the emoji takes a surrogate pair
  EXPECT_EQ(kv::Utf16ToUtf8(u), text);
  EXPECT_EQ(kv::Utf8ToUtf16("a\xC0\xAF"
                            "b"),
            u"a\uFFFDb");                             // overlong "/"
  EXPECT_EQ(kv::Utf8ToUtf16("\xE6\x89"), u"\uFFFD");  // truncated
  EXPECT_EQ(kv::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Utf16Field, TextMustLeaveRoomForItsTerminatorAndNeverOverflows) {
  unsigned char field[42 + 4];
  std::memset(field, 0xAB, sizeof field);
  kv::WriteUtf16FieldUtf8(field, 21, std::string(20, 'x'));
  EXPECT_EQ(field[40], 0);
  EXPECT_EQ(field[41], 0);
  EXPECT_EQ(field[42], 0xAB);
  EXPECT_EQ(kv::ReadUtf16FieldUtf8(field, 21), std::string(20, 'x'));

  std::memset(field, 0xAB, sizeof field);
  EXPECT_THROW(kv::WriteUtf16FieldUtf8(field, 21, std::string(21, 'y')), kv::TextFieldOverflow);
  EXPECT_EQ(field[0], 0xAB) << "a text that does not fit must write nothing";

  // Units behind the terminator keep their bytes; a field without a zero unit reads whole.
  unsigned char full[6] = {'a', 0, 'b', 0, 'c', 0};
  EXPECT_EQ(kv::ReadUtf16FieldUtf8(full, 3), "abc");
  kv::WriteUtf16FieldUtf8(full, 3, "z");
  EXPECT_EQ(full[4], 'c');
  EXPECT_EQ(kv::ReadUtf16FieldUtf8(full, 3), "z");
}

TEST(Utf16Field, ATruncatingWriteCutsAtTheFieldAndNeverSplitsASurrogatePair) {
  char16_t field[5];
  std::fill(std::begin(field), std::end(field), u'#');
  EXPECT_FALSE(kv::WriteUtf16FieldTruncated(field, 5, u"abcd"));
  EXPECT_EQ(kv::ReadUtf16Field(field, 5), u"abcd");
  EXPECT_TRUE(kv::WriteUtf16FieldTruncated(field, 5, u"abcdef"));
  EXPECT_EQ(kv::ReadUtf16Field(field, 5), u"abcd");
  EXPECT_EQ(field[4], 0) << "the terminator stays";
  // The pair at units 3 and 4 would be split by a cut at 4: both go.
  EXPECT_TRUE(kv::WriteUtf16FieldTruncated(field, 5, u"abc\U0001F5B1"));
  EXPECT_EQ(kv::ReadUtf16Field(field, 5), u"abc");
  EXPECT_EQ(kv::Utf16Prefix(u"ab\U0001F5B1", 4), u"ab\U0001F5B1");
}

TEST(Strings, IntegersInDecimalAndBothHexForms) {
  EXPECT_EQ(kv::ParseInteger("0x10"), 16);
  EXPECT_EQ(kv::ParseInteger("0X1f"), 31);
  EXPECT_EQ(kv::ParseInteger("$10"), 16);
  EXPECT_EQ(kv::ParseInteger("-12"), -12);
  EXPECT_EQ(kv::ParseInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(kv::ParseInteger("yes"), std::nullopt);
  EXPECT_EQ(kv::ParseInteger(""), std::nullopt);
  EXPECT_EQ(kv::ParseInteger("0x"), std::nullopt);
  EXPECT_EQ(kv::ParseInteger("12a"), std::nullopt);
  EXPECT_EQ(kv::ParseInteger("4294967296"), std::nullopt);
  EXPECT_EQ(kv::ParseInteger("2147483648"), std::nullopt);
  // The ends of the range, both spellings; a minus sign negates the hexadecimal bit pattern.
  EXPECT_EQ(kv::ParseInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(kv::ParseInteger("-2147483649"), std::nullopt);
  EXPECT_EQ(kv::ParseInteger("-$80000000"), INT32_MIN);
  EXPECT_EQ(kv::ParseInteger("-0x80000000"), INT32_MIN);
  EXPECT_EQ(kv::ParseInteger("-$FFFFFFFF"), 1);
  EXPECT_EQ(kv::ParseInteger("$7FFFFFFF"), INT32_MAX);
}

TEST(Path, FoldersKeepOneTrailingSeparatorAndSplitAtTheLast) {
  using namespace kv::path;
  const std::string s(1, kSep);
  EXPECT_EQ(WithTrailingSep("a"), "a" + s);
  EXPECT_EQ(WithTrailingSep("a" + s), "a" + s);
  EXPECT_EQ(Join("a" + s, "b"), "a" + s + "b");
  std::string folder, name;
  SplitFolderAndName("x" + s + "y" + s + "P1.pfd", folder, name);
  EXPECT_EQ(folder, "x" + s + "y" + s);
  EXPECT_EQ(name, "P1.pfd");
  SplitFolderAndName("P1.pfd", folder, name);
  EXPECT_EQ(folder, "");
  EXPECT_EQ(name, "P1.pfd");
#ifdef _WIN32
  SplitFolderAndName("C:\\docs\\pre/y.pfd", folder, name);
  EXPECT_EQ(folder, "C:\\docs\\pre\\");
  EXPECT_EQ(name, "y.pfd");
#endif
}

}  // namespace
