#pragma once
// The one place that converts between the program's UTF-8 strings and the UTF-16 code units
// that records, resource files and the Win32 boundary carry.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kv {

// Raised when a text does not fit a fixed-size field with its terminator.
class TextFieldOverflow : public std::length_error {
 public:
  using std::length_error::length_error;
};

// Malformed UTF-8 is replaced unit by unit with U+FFFD; it never throws.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// The text itself when it is valid UTF-8; otherwise each malformed unit becomes U+FFFD.
std::string ToValidUtf8(std::string_view text);

// Reads a zero-terminated UTF-16LE text from a fixed field of `units` code units: the units up
// to the first zero unit, or the whole field when it holds none.
std::u16string ReadUtf16Field(const void* field, std::size_t units);
std::string ReadUtf16FieldUtf8(const void* field, std::size_t units);

// Writes `text` and its terminating zero unit into a field of `units` code units. Units behind
// the terminator keep their bytes. Throws TextFieldOverflow (and writes nothing) when the text
// needs more than units - 1 code units.
void WriteUtf16Field(void* field, std::size_t units, std::u16string_view text);
void WriteUtf16FieldUtf8(void* field, std::size_t units, std::string_view text);
// As WriteUtf16Field, but a text that does not fit is cut to units - 1 code units (never inside
// a surrogate pair) and written with its terminator. True when the text was cut.
bool WriteUtf16FieldTruncated(void* field, std::size_t units, std::u16string_view text);
// The first `units` code units of `text` at most, never ending inside a surrogate pair.
std::u16string_view Utf16Prefix(std::u16string_view text, std::size_t units);

// Fixed UTF-16 arrays in records: template forms that take the size from the array.
template <std::size_t N>
std::string ReadField(const char16_t (&field)[N]) {
  return ReadUtf16FieldUtf8(field, N);
}
template <std::size_t N>
void WriteField(char16_t (&field)[N], std::string_view text) {
  WriteUtf16FieldUtf8(field, N, text);
}

}  // namespace kv
