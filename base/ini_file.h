#pragma once
// A portable reader of ini files with the answers Windows' private-profile functions give
// (GetPrivateProfileStringW and key enumeration): names compared without regard to case,
// trimmed names and values, one pair of matching quotes removed, first duplicate wins for
// lookups, BOM-selected encoding. Read-only.
//
// Parsing and every lookup take time linear in the size of the file and of the query; a file
// larger than kMaxFileSize is not read at all.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv {

// Turns the bytes of a file that starts with no byte-order mark into UTF-8 text. Windows reads
// such a file in its ANSI code page; without a decoder the bytes are taken as UTF-8.
using UnmarkedTextDecoder = std::function<std::string(std::string_view bytes)>;

class IniFile {
 public:
  // An options file is a few hundred bytes; anything this large is not one.
  static constexpr std::uintmax_t kMaxFileSize = 1024 * 1024;

  // Reads and parses the file at once; later changes to the file are not seen. A missing file
  // reads as empty. A file that cannot be read or is larger than kMaxFileSize reads as empty
  // too, and Problem() says why.
  static IniFile Load(const std::string& path, const UnmarkedTextDecoder& decode = {});
  static IniFile Parse(std::string_view bytes, const UnmarkedTextDecoder& decode = {});

  // The value of `key` in `section`, or `def` (unquoted like a value) when either is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Names of the keys of `section` in file order (duplicates included, comment lines left out),
  // as a caller of the private-profile functions receives them: a list of zero-terminated names
  // that ends at the first empty one, so a key with an empty name ("=x") and every key after it
  // are not listed.
  std::vector<std::string> KeyNames(std::string_view section) const;
  bool HasSection(std::string_view section) const;

  // Why the file was not read; empty when it was read or does not exist.
  const std::string& Problem() const { return problem_; }

 private:
  struct Entry {
    std::string key;
    std::string value;
    bool comment = false;  // a ";" line: visible to lookups only as Wine does, never enumerated
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    std::unordered_map<std::string, std::size_t> firstEntry;  // folded key -> first entry
  };
  const Section* Find(std::string_view section) const;
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> sectionIndex_;  // folded name -> first section
  std::string problem_;
};

}  // namespace kv
