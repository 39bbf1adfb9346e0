#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "base/strings.h"
#include "hook/key_tables.h"

namespace kv {
namespace {

TEST(KeyTables, DescriptionsFollowTheFormAskedFor) {
  EXPECT_EQ(GetKeyDescription(65, 0), "A");
  EXPECT_EQ(GetKeyDescription(65, 1), "UNDEFINED_041");  // no extended A
  EXPECT_EQ(GetKeyDescription(163, 1), "R CTRL");        // only form is extended
  EXPECT_EQ(GetKeyDescription(163, 0), "R CTRL");
  EXPECT_EQ(GetKeyDescription(37, 0), "LEFT ARROW");
  EXPECT_EQ(GetKeyDescription(37, 1), "LEFT ARROW");
  EXPECT_EQ(GetKeyDescription(45, 0), "Keypad 0 Insert");
  EXPECT_EQ(GetKeyDescription(45, 225), "INS");
  EXPECT_EQ(GetKeyDescription(13, 225), "ENTER");
  EXPECT_EQ(GetKeyDescription(46, 224), "Keypad DEL");
  EXPECT_EQ(GetKeyDescription(46, 7), "DEL");  // any other mode reads the extended table
  EXPECT_EQ(GetKeyDescription(163, 7), "UNDEFINED_0A3");
}

TEST(KeyTables, GapsAndOutOfRangeCodes) {
  EXPECT_EQ(GetKeyDescription(5, 0), "Undefined");
  EXPECT_EQ(GetKeyDescription(224, 0), "Undefined");
  EXPECT_EQ(KeyboardInfoTable()[224].VKName, "VK_UNDEFINED_E0");
  EXPECT_EQ(GetKeyDescription(200, 0), "UNDEFINED_0C8");
  EXPECT_EQ(GetKeyDescription(184, 0), "UNDEFINED_0B8");
  EXPECT_EQ(KeyboardInfoTable()[184].VKName, "VK_UNDEFINED_0B8");
  EXPECT_EQ(GetKeyDescription(299, 1), "UNDEFINED_12B");
  EXPECT_EQ(GetKeyDescription(300, 0), "");
  EXPECT_EQ(GetKeyDescription(-1, 0), "");
  EXPECT_EQ(GetKeyDescription(0, 0), "");
  EXPECT_EQ(KeyboardInfoTable()[0].VKName, "VK_NULL");
}

TEST(KeyTables, RowsCarryTheirUsagesScanCodesAndForms) {
  const auto& n = KeyboardInfoTable();
  const auto& x = ExtendedKeyboardInfoTable();
  for (int i = 0; i < kKeyTableRows; ++i) {
    EXPECT_EQ(n[static_cast<std::size_t>(i)].VKCode, i);
    EXPECT_EQ(x[static_cast<std::size_t>(i)].VKCode, i);
  }
  // Rows made by rule: the digit, keypad and function-key usages have gaps and offsets.
  EXPECT_EQ(n[48].HIDCode, 39);
  EXPECT_EQ(n[49].HIDCode, 30);
  EXPECT_EQ(n[90].HIDCode, 29);
  EXPECT_EQ(n[96].HIDCode, 98);
  EXPECT_EQ(n[105].HIDCode, 97);
  EXPECT_EQ(n[123].HIDCode, 69);
  EXPECT_EQ(n[124].HIDCode, 104);
  EXPECT_EQ(n[135].KeyDescription, "F24");
  EXPECT_EQ(x[37].HIDCode, 80);
  EXPECT_EQ(x[37].Extended, kExtendedForm);
  EXPECT_EQ(n[186].ScanCode, 0x27);
  EXPECT_EQ(n[220].KeyDescription, "\\|");
}

// The rows of both tables as the data file beside this test lists them.
struct Transcription {
  std::optional<TKeyboardInfoTable> normal[kKeyTableRows], extended[kKeyTableRows];
  std::vector<std::string> problems;  // lines the file gets wrong

  static std::string Hex3(int code) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(code >> 8) & 15], digits[(code >> 4) & 15], digits[code & 15]};
  }

  void Put(const std::string& table, int code, TKeyboardInfoTable row, const std::string& line) {
    auto* slots = table == "normal" ? normal : table == "extended" ? extended : nullptr;
    if (!slots || code < 0 || code >= kKeyTableRows) return problems.push_back("bad: " + line);
    if (slots[code]) return problems.push_back("listed twice: " + line);
    slots[code] = std::move(row);
  }

  explicit Transcription(const std::string& file) {
    std::ifstream in(file);
    if (!in) problems.push_back("cannot read " + file);
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      const std::vector<std::string> f = Split(line, '\t');
      if (f[0] == "filler" && f.size() == 3) {
        const auto dash = f[2].find('-');
        const int first = std::stoi(f[2].substr(0, dash)), last = std::stoi(f[2].substr(dash + 1));
        for (int code = first; code <= last; ++code)
          Put(f[1], code,
              {"VK_UNDEFINED_" + Hex3(code), code, 0, f[1] == "normal" ? 224 : 225, -1,
               "UNDEFINED_" + Hex3(code)},
              line);
      } else if (f.size() == 7) {
        Put(f[0], std::stoi(f[1]),
            {f[2], std::stoi(f[1]), std::stoi(f[3]), std::stoi(f[4]), std::stoi(f[5]), f[6]}, line);
      } else {
        problems.push_back("bad: " + line);
      }
    }
  }
};

void ExpectSameRow(const TKeyboardInfoTable& got, const TKeyboardInfoTable& want,
                   const char* table) {
  SCOPED_TRACE(std::string(table) + " row " + std::to_string(want.VKCode));
  EXPECT_EQ(got.VKName, want.VKName);
  EXPECT_EQ(got.VKCode, want.VKCode);
  EXPECT_EQ(got.ScanCode, want.ScanCode);
  EXPECT_EQ(got.Extended, want.Extended);
  EXPECT_EQ(got.HIDCode, want.HIDCode);
  EXPECT_EQ(got.KeyDescription, want.KeyDescription);
}

TEST(KeyTables, EveryRowOfBothTablesIsTheTranscribedOne) {
  const Transcription t(KV_KEY_TABLES_FILE);
  ASSERT_EQ(t.problems, std::vector<std::string>{});
  for (int code = 0; code < kKeyTableRows; ++code) {
    ASSERT_TRUE(t.normal[code] && t.extended[code]) << "the file leaves out code " << code;
    ExpectSameRow(KeyboardInfoTable()[static_cast<std::size_t>(code)], *t.normal[code], "normal");
    ExpectSameRow(ExtendedKeyboardInfoTable()[static_cast<std::size_t>(code)], *t.extended[code],
                  "extended");
    // A key's text in its normal form, and in its extended form: the normal row when that row
    // is the key's only (extended) form, the extended row otherwise.
    const std::string& normalText = t.normal[code]->KeyDescription;
    const std::string& extendedText =
        t.normal[code]->Extended == 225 ? normalText : t.extended[code]->KeyDescription;
    EXPECT_EQ(GetKeyDescription(code, 0), normalText) << code;
    EXPECT_EQ(GetKeyDescription(code, 224), normalText) << code;
    EXPECT_EQ(GetKeyDescription(code, 1), extendedText) << code;
    EXPECT_EQ(GetKeyDescription(code, 225), extendedText) << code;
  }
}

TEST(KeyTables, EveryKeyboardPageUsageNamesOneKeyPerForm) {
  // A usage found twice in one table would make the key behind it ambiguous. The keypad keys are
  // the known exception: their digit and navigation codes share the keypad's usages.
  const std::set<int> keypad = {89, 90, 91, 92, 94, 95, 96, 97, 98, 99};
  for (const KeyTable* table : {&KeyboardInfoTable(), &ExtendedKeyboardInfoTable()}) {
    std::set<int> seen;
    for (const auto& row : *table) {
      if (row.HIDCode < 0 || IsConsumerPageKey(row.VKCode) || keypad.count(row.HIDCode)) continue;
      EXPECT_TRUE(seen.insert(row.HIDCode).second) << row.VKName << " " << row.HIDCode;
    }
  }
  // The two rows that would otherwise copy their neighbours: own text, own usage.
  EXPECT_NE(GetKeyDescription(110, 0), GetKeyDescription(107, 0));
  EXPECT_NE(ExtendedKeyboardInfoTable()[255].HIDCode, ExtendedKeyboardInfoTable()[46].HIDCode);
  EXPECT_EQ(GetKeyDescription(255, 1), "POWER");
}

}  // namespace
}  // namespace kv
