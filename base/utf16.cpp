#include "base/utf16.h"

#include <cstring>

namespace kv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at `i`; advances `i`. Rejects overlong forms, surrogates and
// values above U+10FFFF.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  std::size_t j = i + 1;
  for (int k = 0; k < extra; ++k, ++j) {
    if (j >= s.size() || (static_cast<unsigned char>(s[j]) & 0xC0) != 0x80) {
      i = j;
      return kReplacement;
    }
    cp = (cp << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
  }
  i = j;
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = DecodeUtf8(text, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string ToValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t cp = DecodeUtf8(text, i);
    // A sequence that decoded to itself is copied as it stands; anything else is replaced.
    if (cp != kReplacement || (i - start == 3 && text.substr(start, 3) == "\xEF\xBF\xBD"))
      out.append(text.substr(start, i - start));
    else AppendUtf8(out, kReplacement);
  }
  return out;
}

std::u16string ReadUtf16Field(const void* field, std::size_t units) {
  // Copy unit by unit: record fields may sit on odd offsets in a byte buffer.
  const auto* bytes = static_cast<const unsigned char*>(field);
  std::u16string out;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t u = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (u == 0) break;
    out += u;
  }
  return out;
}

std::string ReadUtf16FieldUtf8(const void* field, std::size_t units) {
  return Utf16ToUtf8(ReadUtf16Field(field, units));
}

void WriteUtf16Field(void* field, std::size_t units, std::u16string_view text) {
  if (units == 0 || text.size() > units - 1) {
    throw TextFieldOverflow("text of " + std::to_string(text.size()) +
                            " UTF-16 units does not fit a field of " + std::to_string(units) +
                            " units with its terminator");
  }
  auto* bytes = static_cast<unsigned char*>(field);
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const char16_t u = i < text.size() ? text[i] : 0;
    bytes[2 * i] = static_cast<unsigned char>(u & 0xFF);
    bytes[2 * i + 1] = static_cast<unsigned char>(u >> 8);
  }
}

void WriteUtf16FieldUtf8(void* field, std::size_t units, std::string_view text) {
  WriteUtf16Field(field, units, Utf8ToUtf16(text));
}

std::u16string_view Utf16Prefix(std::u16string_view text, std::size_t units) {
  if (text.size() <= units) return text;
  std::size_t n = units;
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;  // a lone high surrogate
  return text.substr(0, n);
}

bool WriteUtf16FieldTruncated(void* field, std::size_t units, std::u16string_view text) {
  if (units == 0) return !text.empty();
  const std::u16string_view kept = Utf16Prefix(text, units - 1);
  WriteUtf16Field(field, units, kept);
  return kept.size() != text.size();
}

}  // namespace kv
