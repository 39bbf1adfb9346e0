#include "base/ini_file.h"

#include <gtest/gtest.h>

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
      "=x\n"
      "key=\n"
      "blank=   \n");
  EXPECT_EQ(ini.ReadString("s", "noequals", "d"), "d");
  EXPECT_EQ(ini.KeyNames("s"), (Names{"", "key", "blank"}));
  EXPECT_EQ(ini.ReadString("s", "", "d"), "x");
  EXPECT_EQ(ini.ReadString("s", "key", "d"), "");
  EXPECT_EQ(ini.ReadString("s", "blank", "d"), "");
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

}  // namespace
