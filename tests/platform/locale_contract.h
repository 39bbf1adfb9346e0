#pragma once
// The contract of the locale service (platform/locale.h) as a typed GoogleTest suite. Every
// implementation instantiates it with an environment type:
//
//   struct MyEnv {
//     kv::platform::Locale& locale();
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyPlatform, LocaleContract, ::testing::Types<MyEnv>);
#include <gtest/gtest.h>

#include <set>

#include "platform/locale.h"

namespace kv::platform::contract {

template <typename Env>
class LocaleContract : public ::testing::Test {
 protected:
  Env env;
  Locale& locale() { return env.locale(); }
  static const LocaleInfo* Find(const std::vector<LocaleInfo>& all, std::uint32_t id) {
    for (const auto& l : all)
      if (l.localeId == id) return &l;
    return nullptr;
  }
};

TYPED_TEST_SUITE_P(LocaleContract);

// The translation picks its tables by the first two letters of these abbreviations, so the
// two languages the program ships must come with the system's exact names.
TYPED_TEST_P(LocaleContract, TheShippedLanguagesAreListedWithTheirAbbreviations) {
  const auto all = this->locale().SupportedLocales();
  const LocaleInfo* us = this->Find(all, 0x0409);
  const LocaleInfo* cn = this->Find(all, 0x0804);
  ASSERT_NE(us, nullptr);
  ASSERT_NE(cn, nullptr);
  EXPECT_EQ(us->abbreviatedLanguageName, "ENU");
  EXPECT_EQ(us->abbreviatedCountryName, "USA");
  EXPECT_EQ(us->nativeLanguageName, "English");
  EXPECT_EQ(cn->abbreviatedLanguageName, "CHS");
  EXPECT_EQ(cn->abbreviatedCountryName, "CHN");
  EXPECT_FALSE(cn->nativeLanguageName.empty());
}

TYPED_TEST_P(LocaleContract, EveryLocaleIsListedOnceWithItsOwnLanguage) {
  const auto all = this->locale().SupportedLocales();
  std::set<std::uint32_t> seen;
  for (const auto& l : all) {
    EXPECT_TRUE(seen.insert(l.localeId).second) << "listed twice: " << std::hex << l.localeId;
    EXPECT_EQ(l.languageId, l.localeId & 0xFFFFu) << std::hex << l.localeId;
  }
}

TYPED_TEST_P(LocaleContract, TheDefaultsAreAmongTheSupportedLocales) {
  const auto all = this->locale().SupportedLocales();
  const std::uint16_t system = this->locale().SystemDefaultLanguageId();
  const std::string user = this->locale().UserLanguageAbbreviation();
  bool systemListed = false, userListed = user.empty();
  for (const auto& l : all) {
    systemListed |= l.languageId == system;
    userListed |= l.abbreviatedLanguageName == user;
  }
  EXPECT_TRUE(systemListed) << std::hex << system;
  EXPECT_TRUE(userListed) << user;
}

REGISTER_TYPED_TEST_SUITE_P(LocaleContract, TheShippedLanguagesAreListedWithTheirAbbreviations,
                            EveryLocaleIsListedOnceWithItsOwnLanguage,
                            TheDefaultsAreAmongTheSupportedLocales);

}  // namespace kv::platform::contract
