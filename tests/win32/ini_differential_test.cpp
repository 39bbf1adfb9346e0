// The portable ini reader against Windows' own private-profile reader, on awkward files: every
// lookup and every key list must agree.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/ini_file.h"
#include "platform/win32/win32_core.h"
#include "platform/win32/wide.h"

using kv::platform::win32::Narrow;
using namespace std::string_literals;
using kv::platform::win32::Widen;

namespace {

struct Case {
  const char* name;
  std::string bytes;
  std::vector<std::pair<std::string, std::string>> lookups;  // section, key
  std::vector<std::string> sections;                         // whose key lists are compared
};

std::string WindowsLookup(const std::wstring& file, const std::string& section,
                          const std::string& key, const std::string& def) {
  std::wstring buffer(4096, L'\0');
  const DWORD n =
      GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(def).c_str(),
                               buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
  return Narrow(std::wstring_view(buffer.data(), n));
}

// The key list as a Windows program reads it: zero-terminated names up to an empty one.
std::vector<std::string> WindowsKeys(const std::wstring& file, const std::string& section) {
  std::wstring buffer(8192, L'\0');
  const DWORD n = GetPrivateProfileStringW(Widen(section).c_str(), nullptr, L"", buffer.data(),
                                           static_cast<DWORD>(buffer.size()), file.c_str());
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < n && buffer[i] != L'\0';) {
    const std::size_t end = buffer.find(L'\0', i);
    keys.push_back(Narrow(std::wstring_view(buffer.data() + i, end - i)));
    i = end + 1;
  }
  return keys;
}

std::string Utf16Le(std::u16string_view text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::vector<Case> Cases() {
  const std::vector<std::pair<std::string, std::string>> common = {
      {"a", "key"},     {"A", "KEY"},      {"a", "  key  "},   {"a", "key 4"}, {"a", "key  4"},
      {"a", "url"},     {"a", "q1"},       {"a", "q2"},        {"a", "q3"},    {"a", "q4"},
      {"a", "q5"},      {"a", "q6"},       {"a", "semi"},      {"a", "hash"},  {"a", "empty"},
      {"a", "blank"},   {"a", "noeq"},     {"a", ""},          {"a", "dup"},   {"c2", "x"},
      {"c2", "y"},      {"unclosed", "z"}, {"[unclosed", "z"}, {"b", "k"},     {"missing", "k"},
      {"a", "missing"}, {"a", "orphan"}};
  const std::string body =
      "orphan=before any section\r\n"
      "[a]\r\n"
      "key = value one \r\n"
      "key 4=four\r\n"
      "url=a=b=c\r\n"
      "q1=\"hello world\"\r\n"
      "q2='  padded  '\r\n"
      "q3=\"open\r\n"
      "q4=\"x\" y\r\n"
      "q5=\"x'\r\n"
      "q6=\"\"\r\n"
      "semi=1 ; trailing\r\n"
      "hash=#not a comment\r\n"
      "; comment=hidden\r\n"
      "empty=\r\n"
      "blank=   \t \r\n"
      "noeq\r\n"
      "=nameless\r\n"
      "dup=first\r\n"
      "dup=second\r\n"
      "[c2] ; after the header\r\n"
      "x=1\r\n"
      "[unclosed\r\n"
      "z=in c2 still\r\n"
      "[A]\r\n"
      "key=from the duplicate section\r\n"
      "late=invisible\r\n"
      "[b]\r\n"
      "\tk\t=\ttabbed\t\r\n";
  std::string lf = body, cr = body;
  for (std::size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.replace(p, 2, "\n");
  for (std::size_t p; (p = cr.find("\r\n")) != std::string::npos;) cr.replace(p, 2, "\r");
  const std::vector<std::string> sections = {"a", "A", "b", "c2", "missing"};
  return {
      {"crlf", body, common, sections},
      {"lf_no_final_newline", lf.substr(0, lf.size() - 1), common, sections},
      {"cr_only", cr, common, sections},
      {"utf8_bom",
       "\xEF\xBB\xBF[s]\nname=Gr\xC3\xBC\xC3\x9F"
       "e \xE4\xB8\xAD\n[\xC3\x9C]\nk=v\n",
       {{"s", "name"}, {"\xC3\x9C", "k"}, {"\xC3\xBC", "k"}},
       {"s"}},
      {"utf16le_bom",
       Utf16Le(u"[s]\r\nname=\u00fcber \u4e2d\r\nK2 = \"quoted\" \r\n"),
       {{"s", "name"}, {"S", "k2"}, {"s", "none"}},
       {"s"}},
      {"empty_file", "", {{"a", "key"}}, {"a"}},
      // An empty key name in the middle of a section and as its first key.
      {"empty_names",
       "[h]\r\nen=a.chm\r\n=nameless\r\nfr=b.chm\r\n  = blanks\r\n[first]\r\n=x\r\nen=y\r\n",
       {{"h", ""}, {"h", "fr"}, {"first", ""}, {"first", "en"}},
       {"h", "first"}},
      // ASCII white space and ^Z are trimmed, a no-break space is not; a NUL ends a text.
      {"spaces_and_nul",
       "[w]\r\nv=\vx\f\r\nz=\x1Ay\x1A\r\nn=\xA0z\xA0\r\nnul=ab\0cd\r\n"
       "\vk2\v=2\r\nq=\"ab\0c\"\r\n[nu\0l]\r\nq=1\r\n"s,
       {{"w", "v"}, {"w", "z"}, {"w", "n"}, {"w", "nul"}, {"w", "k2"}, {"w", "q"}, {"nu", "q"}},
       {"w", "nu"}},
      // Files without a byte-order mark in the ANSI code pages 1252 and 936. Each reads the same
      // on both sides in any code page; the code-page tests below say which one a run has.
      {"cp1252",
       "[Caf\xE9]\r\nname=Caf\xE9 cr\xE8me\r\nk\xFC=\xC0 la\r\n[\xC9t\xE9]\r\nk=1\r\n",
       {{"Caf\xC3\xA9", "name"},
        {"CAF\xC3\x89", "name"},
        {"caf\xC3\xA9", "K\xC3\xBC"},
        {"\xC3\x89t\xC3\xA9", "k"},
        {"\xC3\xA9t\xC3\xA9", "k"}},
       {"Caf\xC3\xA9", "\xC3\x89t\xC3\xA9"}},
      // GBK: the second byte of a character may be "]" (0x81 0x5D), which must not end a header.
      {"cp936",
       "[\xD6\xD0\xCE\xC4]\r\n\xC3\xFB=\xD6\xB5\r\n[a\x81\x5D]\r\nk=\x81\x5D\r\n[\x81\x5D\r\nj="
       "2\r\n",
       {{"\xE4\xB8\xAD\xE6\x96\x87", "\xE5\x90\x8D"},
        {"a\xE4\xB9\x9A", "k"},
        {"a\xE4\xB9\x9A", "j"},
        {"\xC2\x81", "j"}},
       {"\xE4\xB8\xAD\xE6\x96\x87", "a\xE4\xB9\x9A"}},
  };
}

TEST(IniDifferential, PortableReaderAnswersAsGetPrivateProfileStringW) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"kvini-" + std::to_wstring(GetCurrentProcessId());
  std::filesystem::create_directories(dir);
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::wstring file = dir + L"\\" + Widen(c.name) + L".ini";
    {
      std::ofstream out(std::filesystem::path(file), std::ios::binary);
      out << c.bytes;
    }
    const kv::IniFile ini = kv::IniFile::Load(Narrow(file), [](std::string_view bytes) {
      return kv::platform::win32::Win32Paths().DecodeUnmarkedText(bytes);
    });
    for (const auto& [section, key] : c.lookups) {
      for (const std::string def : {"<default>", "\"quoted default\""}) {
        EXPECT_EQ(ini.ReadString(section, key, def), WindowsLookup(file, section, key, def))
            << "[" << section << "] " << key;
      }
    }
    for (const std::string& section : c.sections)
      EXPECT_EQ(ini.KeyNames(section), WindowsKeys(file, section)) << "keys of [" << section << "]";
  }
  // A file that is not there reads as empty on both sides.
  const std::wstring none = dir + L"\\none.ini";
  EXPECT_EQ(kv::IniFile::Load(Narrow(none)).ReadString("a", "b", "d"),
            WindowsLookup(none, "a", "b", "d"));
  std::filesystem::remove_all(dir);
}

// The run's ANSI code page decides how a file without a mark reads. CTest runs this test once
// per code page (KV_EXPECT_ACP and the locale that gives it), so neither page goes untested.
TEST(IniDifferential, AnUnmarkedFileReadsInTheRunsAnsiCodePage) {
  const char* expected = std::getenv("KV_EXPECT_ACP");
  // The test entries that set the variable pass only when this test ran and passed.
  if (!expected) GTEST_SKIP() << "runs under IniDifferentialCodePage<N> (KV_EXPECT_ACP)";
  ASSERT_EQ(std::to_string(GetACP()), expected);
  kv::platform::win32::Win32Paths paths;
  const auto read = [&](std::string_view bytes, const char* section, const char* key) {
    return kv::IniFile::Parse(bytes,
                              [&](std::string_view b) { return paths.DecodeUnmarkedText(b); })
        .ReadString(section, key, "<default>");
  };
  if (GetACP() == 1252) {
    EXPECT_EQ(read("[s]\r\nprofileFolder=Caf\xE9\r\n", "s", "profileFolder"), "Caf\xC3\xA9");
  } else {
    ASSERT_EQ(GetACP(), 936u);
    EXPECT_EQ(read("[\xD6\xD0]\r\nk=\xCE\xC4\r\n", "\xE4\xB8\xAD", "k"), "\xE6\x96\x87");
    EXPECT_EQ(read("[a\x81\x5D]\r\nk=1\r\n", "a\xE4\xB9\x9A", "k"), "1");
  }
  // A byte-order mark overrides the code page.
  EXPECT_EQ(read("\xEF\xBB\xBF[s]\r\nk=\xC3\xA9\r\n", "s", "k"), "\xC3\xA9");
}

}  // namespace
