#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// ASCII case folding, as the registry, the ini reader and the hardware-ID filters compare names.
char AsciiLower(char c);
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Blanks and tabs at both ends.
std::string_view TrimBlanks(std::string_view s);

// Decimal, or hexadecimal after "$", "0x" or "0X", with an optional sign; the whole text must be
// a number that fits 32 bits. Anything else is nullopt.
std::optional<std::int32_t> ParseInteger(std::string_view s);

std::vector<std::string> Split(std::string_view s, char sep);

}  // namespace kv
