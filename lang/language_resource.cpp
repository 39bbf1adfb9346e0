#include "lang/language_resource.h"

#include <algorithm>

#include "base/utf16.h"

namespace kv::lang {

void SortedLines::Assign(const std::vector<std::string>& lines) {
  lines_ = lines;
  std::sort(lines_.begin(), lines_.end());
  lines_.erase(std::unique(lines_.begin(), lines_.end()), lines_.end());
}

bool SortedLines::Add(std::string line) {
  auto it = std::lower_bound(lines_.begin(), lines_.end(), line);
  if (it != lines_.end() && *it == line) return false;
  lines_.insert(it, std::move(line));
  return true;
}

bool SortedLines::Contains(std::string_view line) const {
  return std::binary_search(lines_.begin(), lines_.end(), line, std::less<>());
}

const std::string* SortedLines::FindValue(std::string_view name, std::string& storage) const {
  // A line's name ends at its first "=": a text holding "=" names no line.
  if (name.find('=') != std::string_view::npos) return nullptr;
  // Every line named `name` starts with name + "=", so they sit together in sorted order.
  std::string prefix(name);
  prefix += '=';
  auto it = std::lower_bound(lines_.begin(), lines_.end(), prefix);
  if (it == lines_.end() || it->compare(0, prefix.size(), prefix) != 0) return nullptr;
  storage = it->substr(prefix.size());
  return &storage;
}

bool SortedLines::FindName(std::string_view value, std::string& name) const {
  for (const auto& line : lines_) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (std::string_view(line).substr(eq + 1) == value) {
      name = line.substr(0, eq);
      return true;
    }
  }
  return false;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  bool open = false;  // a line has started and not yet ended
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t len = 0;
    if (c == '\r') {
      len = (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    } else if (c == '\n' || c == 0x0B || c == 0x0C) {
      len = 1;
    } else if (c == 0xE2 && i + 2 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      len = 3;  // U+2028, U+2029
    }
    if (len) {
      lines.push_back(std::move(current));
      current.clear();
      open = false;
      i += len;
    } else {
      current += text[i++];
      open = true;
    }
  }
  if (open) lines.push_back(std::move(current));
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

namespace {

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
  std::int32_t Int(const char* what) {
    if (b_.size() - pos_ < 4)
      throw LanguageFormatError(std::string("language resource ends inside ") + what + " at byte " +
                                std::to_string(pos_));
    const std::uint32_t v =
        b_[pos_] | (b_[pos_ + 1] << 8) | (b_[pos_ + 2] << 16) | (std::uint32_t(b_[pos_ + 3]) << 24);
    pos_ += 4;
    return static_cast<std::int32_t>(v);
  }
  std::string String(const char* what) {
    const std::size_t at = pos_;
    const std::int32_t units = Int(what);
    if (units < 0)
      throw LanguageFormatError(std::string("negative length of ") + what + " at byte " +
                                std::to_string(at));
    if ((b_.size() - pos_) / 2 < static_cast<std::size_t>(units))
      throw LanguageFormatError(std::string("language resource ends inside ") + what + " (" +
                                std::to_string(units) + " units announced at byte " +
                                std::to_string(at) + ")");
    std::u16string s(static_cast<std::size_t>(units), u'\0');
    for (std::size_t i = 0; i < s.size(); ++i, pos_ += 2)
      s[i] = static_cast<char16_t>(b_[pos_] | (b_[pos_ + 1] << 8));
    return Utf16ToUtf8(s);
  }
  std::size_t Pos() const { return pos_; }

 private:
  std::span<const std::uint8_t> b_;
  std::size_t pos_ = 0;
};

void PutInt(std::vector<std::uint8_t>& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

void PutString(std::vector<std::uint8_t>& out, std::string_view text) {
  const std::u16string s = Utf8ToUtf16(text);
  PutInt(out, static_cast<std::int32_t>(s.size()));
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

}  // namespace

LanguageResource ReadLanguageResource(std::span<const std::uint8_t> bytes) {
  Reader r(bytes);
  LanguageResource res;
  res.original = SplitLines(r.String("the source texts"));
  const std::size_t countAt = r.Pos();
  const std::int32_t n = r.Int("the number of languages");
  // Each language needs at least its two counts: a larger number cannot be right.
  if (n < 0 || static_cast<std::size_t>(n) > (bytes.size() - r.Pos()) / 8)
    throw LanguageFormatError("impossible number of languages " + std::to_string(n) + " at byte " +
                              std::to_string(countAt));
  for (std::int32_t i = 0; i < n; ++i) {
    std::string id = r.String("a language's short ID");
    std::vector<std::string> lines = SplitLines(r.String("a translation list"));
    res.languages.emplace_back(std::move(id), std::move(lines));
  }
  res.ignoredBytes = bytes.size() - r.Pos();
  return res;
}

std::string IgnoredBytesNote(const LanguageResource& resource, std::string_view source) {
  if (resource.ignoredBytes == 0) return {};
  return std::string(source) + ": " + std::to_string(resource.ignoredBytes) +
         " bytes after the last language ignored";
}

std::vector<std::uint8_t> WriteLanguageResource(const LanguageResource& resource) {
  std::vector<std::uint8_t> out;
  PutString(out, JoinLines(resource.original));
  PutInt(out, static_cast<std::int32_t>(resource.languages.size()));
  for (const auto& [id, lines] : resource.languages) {
    PutString(out, id);
    PutString(out, JoinLines(lines));
  }
  return out;
}

}  // namespace kv::lang
