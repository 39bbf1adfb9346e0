#include "base/ini_file.h"

#include <fstream>
#include <iterator>

#include "base/path.h"
#include "base/strings.h"
#include "base/utf16.h"

namespace kv {
namespace {

// The file's text as UTF-8, whatever byte-order mark chose its encoding.
std::string DecodeText(std::string_view bytes) {
  const auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  const bool le = starts("\xFF\xFE");
  const bool be = starts("\xFE\xFF");
  if (!le && !be) return std::string(bytes);
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    const auto lo = static_cast<unsigned char>(bytes[le ? i : i + 1]);
    const auto hi = static_cast<unsigned char>(bytes[le ? i + 1 : i]);
    units.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  return Utf16ToUtf8(units);
}

// One pair of matching quotes around the whole (already trimmed) value goes.
std::string Unquote(std::string_view v) {
  v = TrimBlanks(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
  std::ifstream in(path::ToFs(path), std::ios::binary);
  if (!in) return IniFile{};
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Parse(bytes);
}

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  const std::string text = DecodeText(bytes);
  // Where the keys of the current line go: nullptr before the first header and inside a section
  // that repeats an earlier one (the first of a name hides the later ones entirely).
  Section* current = nullptr;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = TrimBlanks(std::string_view(text).substr(pos, end - pos));
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    if (line.empty()) continue;

    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        const std::string_view name = TrimBlanks(line.substr(1, close - 1));
        if (ini.Find(name) != nullptr) {
          current = nullptr;
        } else {
          ini.sections_.push_back(Section{std::string(name), {}});
          current = &ini.sections_.back();
        }
        continue;
      }
      // "[unclosed" is no header; it is read like any other line.
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || current == nullptr) continue;
    Entry e;
    e.key = std::string(TrimBlanks(line.substr(0, eq)));
    e.value = Unquote(line.substr(eq + 1));
    e.comment = line.front() == ';';
    current->entries.push_back(std::move(e));
  }
  return ini;
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  section = TrimBlanks(section);
  for (const Section& s : sections_)
    if (EqualsIgnoreCase(s.name, section)) return &s;
  return nullptr;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  if (const Section* s = Find(section)) {
    key = TrimBlanks(key);
    for (const Entry& e : s->entries)
      if (EqualsIgnoreCase(e.key, key)) return e.value;
  }
  return Unquote(def);
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* s = Find(section))
    for (const Entry& e : s->entries)
      if (!e.comment) names.push_back(e.key);
  return names;
}

bool IniFile::HasSection(std::string_view section) const { return Find(section) != nullptr; }

}  // namespace kv
