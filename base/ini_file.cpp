#include "base/ini_file.h"

#include <fstream>
#include <system_error>

#include "base/path.h"
#include "base/strings.h"
#include "base/utf16.h"

namespace kv {
namespace {

// The private-profile reader trims ASCII white space (tab, line feed, vertical tab, form feed,
// carriage return, blank) and the DOS end-of-file mark ^Z, nothing else (no-break spaces stay).
bool IsIniSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsIniSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsIniSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Names and values are zero-terminated texts to the private-profile reader: a NUL ends them.
std::string_view CutAtNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// The file's text as UTF-8, whatever byte-order mark (or, without one, the decoder) chose its
// encoding. Malformed input becomes U+FFFD, so every name and value is valid UTF-8.
std::string DecodeText(std::string_view bytes, const UnmarkedTextDecoder& decode) {
  const auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) return ToValidUtf8(bytes.substr(3));
  const bool le = starts("\xFF\xFE");
  const bool be = starts("\xFE\xFF");
  if (!le && !be) return ToValidUtf8(decode ? decode(bytes) : std::string(bytes));
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const auto lo = static_cast<unsigned char>(bytes[le ? i : i + 1]);
    const auto hi = static_cast<unsigned char>(bytes[le ? i + 1 : i]);
    units.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  return Utf16ToUtf8(units);
}

// One pair of matching quotes around the whole (already trimmed) text goes.
std::string Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

std::string Fold(std::string_view name) { return AsciiLower(CutAtNul(Trim(name))); }

}  // namespace

IniFile IniFile::Load(const std::string& path, const UnmarkedTextDecoder& decode) {
  IniFile empty;
  std::error_code ec;
  const auto fsPath = path::ToFs(path);
  if (!std::filesystem::is_regular_file(fsPath, ec)) return empty;
  const std::uintmax_t size = std::filesystem::file_size(fsPath, ec);
  const auto tooLarge = [&](std::uintmax_t n) {
    empty.problem_ = path + " is " + std::to_string(n) + " bytes long, more than the " +
                     std::to_string(kMaxFileSize) + " an options file may have: not read";
    return empty;
  };
  if (!ec && size > kMaxFileSize) return tooLarge(size);
  std::ifstream in(fsPath, std::ios::binary);
  if (!in) {
    empty.problem_ = path + " cannot be opened for reading: not read";
    return empty;
  }
  // Read at most one byte more than allowed, in case the file grew since its size was taken.
  std::string bytes(static_cast<std::size_t>(kMaxFileSize) + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    empty.problem_ = path + " cannot be read: not read";
    return empty;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kMaxFileSize) return tooLarge(bytes.size());
  return Parse(bytes, decode);
}

IniFile IniFile::Parse(std::string_view bytes, const UnmarkedTextDecoder& decode) {
  IniFile ini;
  const std::string text = DecodeText(bytes, decode);
  // Where the keys of the current line go: nullptr before the first header and inside a section
  // that repeats an earlier one (the first of a name hides the later ones entirely).
  Section* current = nullptr;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    if (line.empty()) continue;

    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        const std::string_view name = CutAtNul(Trim(line.substr(1, close - 1)));
        const auto [it, added] = ini.sectionIndex_.try_emplace(Fold(name), ini.sections_.size());
        if (added) {
          ini.sections_.push_back(Section{std::string(name), {}, {}});
          current = &ini.sections_.back();
        } else {
          current = nullptr;
        }
        continue;
      }
      // "[unclosed" is no header; it is read like any other line.
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || current == nullptr) continue;
    Entry e;
    e.key = std::string(CutAtNul(Trim(line.substr(0, eq))));
    e.value = Unquote(CutAtNul(Trim(line.substr(eq + 1))));
    e.comment = line.front() == ';';
    current->firstEntry.try_emplace(AsciiLower(e.key), current->entries.size());
    current->entries.push_back(std::move(e));
  }
  return ini;
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  const auto it = sectionIndex_.find(Fold(section));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  if (const Section* s = Find(section)) {
    const auto it = s->firstEntry.find(Fold(key));
    if (it != s->firstEntry.end()) return s->entries[it->second].value;
  }
  return Unquote(CutAtNul(Trim(def)));
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* s = Find(section))
    for (const Entry& e : s->entries) {
      if (e.comment) continue;
      if (e.key.empty()) break;
      names.push_back(e.key);
    }
  return names;
}

bool IniFile::HasSection(std::string_view section) const { return Find(section) != nullptr; }

}  // namespace kv
