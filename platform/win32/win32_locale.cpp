#include "platform/win32/win32_locale.h"

#include <windows.h>

#include <cwchar>

#include "platform/win32/wide.h"

namespace kv::platform::win32 {
namespace {

std::string Field(LCID locale, LCTYPE type) {
  wchar_t buffer[128] = {};
  const int n = GetLocaleInfoW(locale, type, buffer, static_cast<int>(std::size(buffer)));
  return n > 1 ? Narrow(std::wstring_view(buffer, static_cast<std::size_t>(n - 1))) : std::string();
}

// The enumeration's callback takes no context: the list being filled is the calling thread's.
thread_local std::vector<LCID>* enumerated = nullptr;

BOOL CALLBACK OnLocale(LPWSTR text) {
  wchar_t* end = nullptr;
  const unsigned long id = std::wcstoul(text, &end, 16);
  if (end != text && enumerated) enumerated->push_back(static_cast<LCID>(id));
  return TRUE;
}

}  // namespace

std::vector<LocaleInfo> Win32Locale::SupportedLocales() {
  std::vector<LCID> ids;
  enumerated = &ids;
  EnumSystemLocalesW(&OnLocale, LCID_SUPPORTED);
  enumerated = nullptr;
  std::vector<LocaleInfo> out;
  out.reserve(ids.size());
  for (LCID id : ids)
    out.push_back({id, LANGIDFROMLCID(id), Field(id, LOCALE_SNATIVELANGNAME),
                   Field(id, LOCALE_SABBREVCTRYNAME), Field(id, LOCALE_SABBREVLANGNAME)});
  return out;
}

std::uint16_t Win32Locale::SystemDefaultLanguageId() { return GetSystemDefaultLangID(); }

std::string Win32Locale::UserLanguageAbbreviation() {
  return Field(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME);
}

}  // namespace kv::platform::win32
