#pragma once
// UTF-8 <-> the wide strings of the Win32 API (UTF-16 in wchar_t), through base/utf16.
#include <string>
#include <string_view>

namespace kv::platform::win32 {

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);
// Text of a Win32 error code, for messages meant for a person.
std::string ErrorText(unsigned long code);

}  // namespace kv::platform::win32
