#include "platform/linux/posix_locale.h"

#include <cstdlib>

namespace kv::platform::linux_ {
namespace {

struct LocaleRow {
  const char* posix;  // language_TERRITORY
  std::uint16_t id;
  const char* native;
  const char* country;
  const char* language;
};

// The locales the suite's language files name; Windows' IDs and three-letter names.
constexpr LocaleRow kLocales[] = {
    {"en_US", 0x0409, "English", "USA", "ENU"},    {"en_GB", 0x0809, "English", "GBR", "ENG"},
    {"zh_CN", 0x0804, "中文(简体)", "CHN", "CHS"}, {"zh_TW", 0x0404, "中文(繁體)", "TWN", "CHT"},
    {"de_DE", 0x0407, "Deutsch", "DEU", "DEU"},    {"fr_FR", 0x040C, "français", "FRA", "FRA"},
    {"es_ES", 0x0C0A, "español", "ESP", "ESN"},    {"it_IT", 0x0410, "italiano", "ITA", "ITA"},
    {"ja_JP", 0x0411, "日本語", "JPN", "JPN"},     {"ko_KR", 0x0412, "한국어", "KOR", "KOR"},
    {"ru_RU", 0x0419, "русский", "RUS", "RUS"},    {"pt_BR", 0x0416, "português", "BRA", "PTB"},
};

LocaleInfo Info(const LocaleRow& row) {
  return {row.id, row.id, row.native, row.country, row.language};
}

std::string UserLocaleName() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char* v = std::getenv(var); v && *v) return v;
  return "";
}

}  // namespace

std::optional<LocaleInfo> PosixLocale::FromPosixName(std::string_view name) {
  const auto cut = name.find_first_of(".@");
  const std::string_view base = name.substr(0, cut);
  for (const auto& row : kLocales)
    if (base == row.posix) return Info(row);
  // A language alone (or with a territory the table lacks): its first row.
  const std::string_view language = base.substr(0, base.find('_'));
  for (const auto& row : kLocales)
    if (!language.empty() && std::string_view(row.posix).substr(0, 2) == language) return Info(row);
  return std::nullopt;
}

std::vector<LocaleInfo> PosixLocale::SupportedLocales() {
  std::vector<LocaleInfo> out;
  for (const auto& row : kLocales) out.push_back(Info(row));
  return out;
}

std::uint16_t PosixLocale::SystemDefaultLanguageId() {
  auto info = FromPosixName(UserLocaleName());
  return info ? info->languageId : 0x0409;
}

std::string PosixLocale::UserLanguageAbbreviation() {
  auto info = FromPosixName(UserLocaleName());
  return info ? info->abbreviatedLanguageName : "";
}

}  // namespace kv::platform::linux_
