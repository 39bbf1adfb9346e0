#pragma once
// The language resource format shared by the forms' stored translations, the language file
// "gx.local" and SaveToFile/LoadFromFile. Little-endian; a string is a signed 32-bit count of
// UTF-16 code units followed by that many UTF-16LE units, no terminator:
//   string                  the source texts, each line followed by CR LF
//   int32 N                 the number of languages
//   N x (string, string)    short ID, then its translation list ("source=translation" lines)
// Inside the program the texts are UTF-8.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::lang {

// A resource that cannot be read: truncated, or a negative or oversized count.
class LanguageFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A sorted, case-sensitive list of lines without duplicates, as the store keeps both its source
// texts and each language's translations. A line's name is the text before its first "=", its
// value the text after it.
class SortedLines {
 public:
  SortedLines() = default;
  explicit SortedLines(const std::vector<std::string>& lines) { Assign(lines); }
  void Assign(const std::vector<std::string>& lines);
  // False when the line was there already.
  bool Add(std::string line);
  bool Contains(std::string_view line) const;
  void Clear() { lines_.clear(); }
  const std::vector<std::string>& Lines() const { return lines_; }
  std::size_t Size() const { return lines_.size(); }
  // Value of the first line named `name`; nullptr when there is none.
  const std::string* FindValue(std::string_view name, std::string& storage) const;
  // Name of the first line whose value is `value`; false when there is none.
  bool FindName(std::string_view value, std::string& name) const;

 private:
  std::vector<std::string> lines_;
};

struct LanguageResource {
  std::vector<std::string> original;                                        // source texts
  std::vector<std::pair<std::string, std::vector<std::string>>> languages;  // short ID, lines
  // Read only: bytes after the last language. The format has no length of its own, so a
  // remainder is ignored (the reader's caller traces it); it is never written.
  std::size_t ignoredBytes = 0;
};

// Splits text into lines: a line ends at CR, LF, CR LF, U+000B, U+000C, U+2028 or U+2029; a
// last line without terminator counts and a terminator at the end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);
// Each line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// Reads the source texts and the number of languages the resource announces; bytes after
// the last one are counted in ignoredBytes. Throws LanguageFormatError, with a message saying
// what is wrong and where, when the resource ends before that.
LanguageResource ReadLanguageResource(std::span<const std::uint8_t> bytes);
// The trace line for a resource read with a remainder; empty when there was none.
std::string IgnoredBytesNote(const LanguageResource& resource, std::string_view source);
std::vector<std::uint8_t> WriteLanguageResource(const LanguageResource& resource);

}  // namespace kv::lang
