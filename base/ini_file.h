#pragma once
// A portable reader of ini files with the answers Windows' private-profile functions give
// (GetPrivateProfileStringW and key enumeration): names compared without regard to case,
// trimmed names and values, one pair of matching quotes removed, first duplicate wins for
// lookups, BOM-selected encoding. Read-only; a missing or unreadable file reads as empty.
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class IniFile {
 public:
  // Reads and parses the file at once; later changes to the file are not seen.
  static IniFile Load(const std::string& path);
  static IniFile Parse(std::string_view bytes);

  // The value of `key` in `section`, or `def` (unquoted like a value) when either is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Names of the keys of `section` in file order (duplicates included, comment lines left out).
  std::vector<std::string> KeyNames(std::string_view section) const;
  bool HasSection(std::string_view section) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
    bool comment = false;  // a ";" line: visible to lookups only as Wine does, never enumerated
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* Find(std::string_view section) const;
  std::vector<Section> sections_;
};

}  // namespace kv
