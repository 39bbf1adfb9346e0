#include "base/ini_file.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using kv::IniFile;
using Names = std::vector<std::string>;

TEST(IniFile, NamesCompareWithoutCaseAndAreTrimmedButInnerBlanksMustMatch) {
  const IniFile ini = IniFile::Parse(
      "  [ Paths ]  \n"
      "  Key One  =  a  b\t\n"
      "key 4=four\n");
  EXPECT_EQ(ini.ReadString("paths", "KEY ONE", "d"), "a  b");
  EXPECT_EQ(ini.ReadString(" PATHS\t", "\tkey one ", "d"), "a  b");
  EXPECT_EQ(ini.ReadString("Paths", "key 4", "d"), "four");
  EXPECT_EQ(ini.ReadString("Paths", "key  4", "d"), "d");
  EXPECT_TRUE(ini.HasSection("pAtHs"));
}

TEST(IniFile, ValueSplitsAtFirstEqualsAndLosesOneMatchingPairOfQuotes) {
  const IniFile ini = IniFile::Parse(
      "[s]\n"
      "url=a=b=c\n"
      "q1=\"hello world\"\n"
      "q2=  '  padded  '  \n"
      "open=\"open\n"
      "tail=\"x\" y\n"
      "mixed=\"x'\n"
      "one=\"\n"
      "empty=\"\"\n");
  EXPECT_EQ(ini.ReadString("s", "url", ""), "a=b=c");
  EXPECT_EQ(ini.ReadString("s", "q1", ""), "hello world");
  EXPECT_EQ(ini.ReadString("s", "q2", ""), "  padded  ");
  EXPECT_EQ(ini.ReadString("s", "open", ""), "\"open");
  EXPECT_EQ(ini.ReadString("s", "tail", ""), "\"x\" y");
  EXPECT_EQ(ini.ReadString("s", "mixed", ""), "\"x'");
  EXPECT_EQ(ini.ReadString("s", "one", "d"), "\"");
  EXPECT_EQ(ini.ReadString("s", "empty", "d"), "");
  // The default goes through the same unquoting.
  EXPECT_EQ(ini.ReadString("s", "missing", "\"quoted default\""), "quoted default");
  EXPECT_EQ(ini.ReadString("nosection", "k", "'x'"), "x");
}

TEST(IniFile, OnlySemicolonLinesAreCommentsAndOnlyForEnumeration) {
  const IniFile ini = IniFile::Parse(
      "[s]\n"
      "  ;c=hidden\n"
      "#h=hash\n"
      "v=1 ; trailing\n"
      "w=2 # not a comment\n");
  EXPECT_EQ(ini.KeyNames("s"), (Names{"#h", "v", "w"}));
  EXPECT_EQ(ini.ReadString("s", "#h", ""), "hash");
  EXPECT_EQ(ini.ReadString("s", "v", ""), "1 ; trailing");
  EXPECT_EQ(ini.ReadString("s", "w", ""), "2 # not a comment");
}

TEST(IniFile, HeaderEndsAtItsLastBracketAndUnclosedHeadersAndOrphanKeysAreUnreadable) {
  const IniFile ini = IniFile::Parse(
      "orphan=1\n"
      "[c2] ; x\n"
      "a=1\n"
      "[x]y] z\n"
      "b=2\n"
      "[unclosed\n"
      "c=3\n");
  EXPECT_EQ(ini.ReadString("c2", "a", "d"), "1");
  EXPECT_EQ(ini.ReadString("x]y", "b", "d"), "2");
  EXPECT_FALSE(ini.HasSection("unclosed"));
  // The unclosed line is not a header, so its keys stay in the section before it.
  EXPECT_EQ(ini.ReadString("x]y", "c", "d"), "3");
  EXPECT_EQ(ini.ReadString("", "orphan", "d"), "d");
}

TEST(IniFile, FirstDuplicateSectionWinsAndHidesLaterOnesEvenFromEnumeration) {
  const IniFile ini = IniFile::Parse(
      "[Dup]\n"
      "a=first\n"
      "[other]\n"
      "z=1\n"
      "[DUP]\n"
      "a=second\n"
      "b=only-in-second\n");
  EXPECT_EQ(ini.ReadString("dup", "a", "d"), "first");
  EXPECT_EQ(ini.ReadString("dup", "b", "d"), "d");
  EXPECT_EQ(ini.KeyNames("dup"), (Names{"a"}));
  EXPECT_EQ(ini.KeyNames("other"), (Names{"z"}));
}

TEST(IniFile, FirstDuplicateKeyWinsButEnumerationListsEveryOneInFileOrder) {
  const IniFile ini = IniFile::Parse(
      "[s]\n"
      "k=1\n"
      "b=x\n"
      "K=2\n");
  EXPECT_EQ(ini.ReadString("s", "k", "d"), "1");
  EXPECT_EQ(ini.KeyNames("s"), (Names{"k", "b", "K"}));
}

TEST(IniFile, LinesWithoutEqualsAreNoKeysAndEmptyValuesAreNotTheDefault) {
  const IniFile ini = IniFile::Parse(
      "[s]\n"
      "noequals\n"
      "key=\n"
      "blank=   \n");
  EXPECT_EQ(ini.ReadString("s", "noequals", "d"), "d");
  EXPECT_EQ(ini.KeyNames("s"), (Names{"key", "blank"}));
  EXPECT_EQ(ini.ReadString("s", "key", "d"), "");
  EXPECT_EQ(ini.ReadString("s", "blank", "d"), "");
}

TEST(IniFile, AnEmptyKeyNameCanBeLookedUpButEndsTheKeyList) {
  // The private-profile key list is a run of zero-terminated names: an empty one ends it.
  const IniFile ini = IniFile::Parse(
      "[h]\nen=a.chm\n=nameless\nfr=b.chm\n  = blanks\n"
      "[first]\n=x\nen=y\n");
  EXPECT_EQ(ini.KeyNames("h"), (Names{"en"}));
  EXPECT_EQ(ini.ReadString("h", "", "d"), "nameless");
  EXPECT_EQ(ini.ReadString("h", "fr", "d"), "b.chm");
  EXPECT_TRUE(ini.KeyNames("first").empty());
  EXPECT_EQ(ini.ReadString("first", "en", "d"), "y");
}

TEST(IniFile, AsciiSpaceAndDosEofAreTrimmedANulEndsATextMalformedUtf8IsReplaced) {
  using namespace std::string_literals;
  const IniFile ini = IniFile::Parse(
      "[w]\nv=\vx\f\nz=\x1Ay\x1A\nn=\xC2\xA0z\nnul=ab\0cd\nq=\"ab\0c\"\n\vk2\v=2\n"
      "[nu\0l]\nq=1\nbad=a\xE9z\xF0\x9F\n"s);
  EXPECT_EQ(ini.ReadString("w", "v", "d"), "x");
  EXPECT_EQ(ini.ReadString("w", "z", "d"), "y");
  EXPECT_EQ(ini.ReadString("w", "n", "d"), "\xC2\xA0z");  // a no-break space is no blank
  EXPECT_EQ(ini.ReadString("w", "nul", "d"), "ab");
  EXPECT_EQ(ini.ReadString("w", "q", "d"), "\"ab");  // the quotes no longer match
  EXPECT_EQ(ini.KeyNames("w"), (Names{"v", "z", "n", "nul", "q", "k2"}));
  EXPECT_EQ(ini.ReadString("nu", "q", "d"), "1");
  EXPECT_EQ(ini.ReadString("nu", "bad", "d"), "a\xEF\xBF\xBDz\xEF\xBF\xBD");
}

TEST(IniFile, TheDecoderReadsFilesWithoutAByteOrderMarkOnly) {
  int calls = 0;
  const auto latin1 = [&](std::string_view bytes) {
    ++calls;
    std::string out;
    for (const char b : bytes) {
      const auto c = static_cast<unsigned char>(b);
      if (c < 0x80) out += b;
      else out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    }
    return out;
  };
  EXPECT_EQ(IniFile::Parse("[s]\nk=caf\xE9\n", latin1).ReadString("s", "k", ""), "caf\xC3\xA9");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF[s]\nk=caf\xC3\xA9\n", latin1).ReadString("s", "k", ""),
            "caf\xC3\xA9");
  EXPECT_EQ(calls, 1);
  // Whatever a decoder gives, the names and values come out valid UTF-8.
  const auto broken = [](std::string_view) { return std::string("[s]\nk=\xFF\n"); };
  EXPECT_EQ(IniFile::Parse("x", broken).ReadString("s", "k", ""), "\xEF\xBF\xBD");
}

TEST(IniFile, AllLineEndsReadTheSame) {
  for (const char* text : {"[s]\r\na=1\r\nb=2\r\n", "[s]\na=1\nb=2\n", "[s]\ra=1\rb=2\r",
                           "[s]\na=1\nb=2", "[s]\r\n\r\na=1\n\rb=2"}) {
    const IniFile ini = IniFile::Parse(text);
    EXPECT_EQ(ini.ReadString("s", "a", "d"), "1") << text;
    EXPECT_EQ(ini.ReadString("s", "b", "d"), "2") << text;
    EXPECT_EQ(ini.KeyNames("s"), (Names{"a", "b"})) << text;
  }
}

TEST(IniFile, ByteOrderMarkChoosesTheEncoding) {
  const std::string utf8 = "[s]\nname=caf\xC3\xA9\n";
  EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF" + utf8).ReadString("s", "name", ""), "caf\xC3\xA9");
  EXPECT_TRUE(IniFile::Parse("\xEF\xBB\xBF[s]\na=1").HasSection("s"));
  EXPECT_EQ(IniFile::Parse(utf8).ReadString("s", "name", ""), "caf\xC3\xA9");

  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char16_t u : std::u16string(u"[s]\r\nname=caf\u00E9 \u6253\r\n")) {
    le += static_cast<char>(u & 0xFF);
    le += static_cast<char>(u >> 8);
    be += static_cast<char>(u >> 8);
    be += static_cast<char>(u & 0xFF);
  }
  EXPECT_EQ(IniFile::Parse(le).ReadString("S", "NAME", ""), "caf\xC3\xA9 \xE6\x89\x93");
  EXPECT_EQ(IniFile::Parse(be).ReadString("S", "NAME", ""), "caf\xC3\xA9 \xE6\x89\x93");
}

TEST(IniFile, MissingFileOrSectionGivesTheDefaultAndLoadReadsFromDisk) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kv_ini_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "config.ini").string();
  EXPECT_EQ(IniFile::Load(file).ReadString("s", "a", "none"), "none");
  {
    std::ofstream out(file, std::ios::binary);
    out << "[s]\na=1\n";
  }
  const IniFile ini = IniFile::Load(file);
  EXPECT_EQ(ini.ReadString("s", "a", "none"), "1");
  EXPECT_EQ(ini.ReadString("t", "a", "none"), "none");
  EXPECT_TRUE(ini.KeyNames("t").empty());
  std::filesystem::remove_all(dir);
}

struct IniFileOnDisk : ::testing::Test {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kv_ini_" + std::to_string(std::random_device{}()));
  std::string file = (dir / "config.ini").string();
  IniFileOnDisk() { std::filesystem::create_directories(dir); }
  ~IniFileOnDisk() override { std::filesystem::remove_all(dir); }
  void Write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
};

TEST_F(IniFileOnDisk, AFileAboveTheLimitIsRefusedWithAReasonAndOneAtTheLimitIsRead) {
  std::string text = "[s]\na=1\n";
  text += ";" + std::string(IniFile::kMaxFileSize - text.size() - 2, 'x') + "\n";
  ASSERT_EQ(text.size(), IniFile::kMaxFileSize);
  Write(text);
  EXPECT_EQ(IniFile::Load(file).ReadString("s", "a", "d"), "1");
  EXPECT_EQ(IniFile::Load(file).Problem(), "");
  Write(text + "\n");
  const IniFile refused = IniFile::Load(file);
  EXPECT_EQ(refused.ReadString("s", "a", "d"), "d");
  EXPECT_FALSE(refused.HasSection("s"));
  EXPECT_NE(refused.Problem().find("1048577 bytes"), std::string::npos) << refused.Problem();
  EXPECT_NE(refused.Problem().find(file), std::string::npos) << refused.Problem();
  std::filesystem::remove(file);
  EXPECT_EQ(IniFile::Load(file).Problem(), "");  // a missing file is no problem
}

TEST(IniFile, AFileOfManySectionsOrKeysIsReadInLinearTime) {
  // About 100,000 headers, then 80,000 keys of one section, each read back by name. A search of
  // the sections so far for every header (or of the keys for every lookup) takes minutes here.
  std::string headers, keys = "[s]\n";
  for (int i = 0; headers.size() < IniFile::kMaxFileSize - 16; ++i)
    headers += "[s" + std::to_string(i) + "]\n";
  for (int i = 0; keys.size() < IniFile::kMaxFileSize - 16; ++i)
    keys += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  const std::clock_t start = std::clock();  // processor time where the host has it
  const IniFile many = IniFile::Parse(headers);
  EXPECT_TRUE(many.HasSection("S99999"));
  const IniFile wide = IniFile::Parse(keys);
  const Names names = wide.KeyNames("s");
  ASSERT_GT(names.size(), 50000u);
  for (std::size_t i = 0; i < names.size(); ++i)
    ASSERT_EQ(wide.ReadString("s", names[i], ""), std::to_string(i));
  EXPECT_LT(std::clock() - start, 20 * CLOCKS_PER_SEC);
}

}  // namespace
