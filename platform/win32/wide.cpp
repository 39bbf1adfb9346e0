#include "platform/win32/wide.h"

#include <windows.h>

#include "base/utf16.h"

namespace kv::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Widen(std::string_view text) {
  const std::u16string u = Utf8ToUtf16(text);
  return std::wstring(reinterpret_cast<const wchar_t*>(u.data()), u.size());
}

std::string Narrow(std::wstring_view text) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::string ErrorText(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n ? Narrow(std::wstring_view(buffer, n)) : std::string();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return "error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

}  // namespace kv::platform::win32
