#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "lang/gx_language.h"
#include "platform/sim/sim_locale.h"
#include "platform/sim/sim_platform.h"

using namespace kv;
using namespace kv::lang;
namespace sim = kv::platform::sim;

namespace {

std::vector<std::uint8_t> Resource(
    std::vector<std::string> original,
    std::vector<std::pair<std::string, std::vector<std::string>>> langs) {
  return WriteLanguageResource({std::move(original), std::move(langs)});
}

void WriteFile(const std::string& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A view with two automatically translated labels, as the toolkit's scenes have.
class LabelsView : public TranslationView {
 public:
  LabelsView() : TranslationView("TvgScene", "scene") {}
  void RefreshTranslation() override {
    for (auto& t : texts) t = TranslateText(t);
    ++refreshes;
  }
  std::vector<std::string> texts{"Config", "Exit"};
  int refreshes = 0;
};

class Form : public Component {
 public:
  explicit Form(std::string cls = "TForm1") : Component(std::move(cls), "Form1", Role::Form) {}
};

class Translation : public ::testing::Test {
 protected:
  void SetUp() override { ResetTranslationTable(); }
  void TearDown() override { ResetTranslationTable(); }

  TgxLanguage& MakeLanguage(Component& owner, bool withPaths = true) {
    return TgxLanguage::Create(owner, "gxLanguage1",
                               {&locale, withPaths ? &p.paths : nullptr, &p.debug, false, {}});
  }
  sim::SimPlatform p;
  sim::SimLocale locale;
  const std::vector<std::uint8_t> formResource = Resource(
      {"Config", "Exit", "OK"},
      {{"CH", {"Config=打开配置", "Exit=退出软件", "OK=确定"}}, {"US", {"OK=OK", "Exit="}}});
};

TEST_F(Translation, LookupWithoutTableOrLineOrTranslationGivesTheTextItself) {
  EXPECT_EQ(TranslateText(""), "");
  EXPECT_EQ(TranslateText("Config"), "Config");
  SortedLines table({"Config=打开配置", "Exit="});
  ActivateTranslationTable(&table);
  EXPECT_EQ(TranslateText("Config"), "打开配置");
  EXPECT_EQ(TranslateText("CONFIG"), "CONFIG");
  EXPECT_EQ(TranslateText("Exit"), "Exit");
  EXPECT_EQ(TranslateText("Other"), "Other");
  ActivateTranslationTable(nullptr);  // no list, no change
  EXPECT_EQ(TranslateText("Config"), "打开配置");
}

TEST_F(Translation, SwitchingLanguagesTakesViewsBackToTheirSourcesFirst) {
  Form form;
  auto& lang = MakeLanguage(form);
  lang.LoadFromForm(Resource(
      {}, {{"CH", {"Config=打开配置", "Exit=退出软件"}}, {"DE", {"Config=Einstellungen"}}}));
  lang.Loaded();
  LabelsView view;
  lang.SetLang("CH");
  EXPECT_EQ(view.texts, (std::vector<std::string>{"打开配置", "退出软件"}));
  lang.SetLang("de");
  EXPECT_EQ(view.texts, (std::vector<std::string>{"Einstellungen", "Exit"}));
  lang.SetLang("en");
  EXPECT_EQ(view.texts, (std::vector<std::string>{"Config", "Exit"}));
  EXPECT_FALSE(HasActiveTranslationTable());
}

TEST_F(Translation, LanguageIndexesIgnoreCaseAndOutOfRangeGivesEmpty) {
  Form form;
  auto& lang = MakeLanguage(form);
  lang.LoadFromForm(formResource);
  lang.Loaded();
  EXPECT_EQ(lang.GetLanguageIndexByShortID("us"), 1);
  EXPECT_EQ(lang.GetLanguageIndexByShortID("FR"), -1);
  EXPECT_EQ(lang.GetLanguageIndexByShortID(lang.Lang()), -1);  // nothing selected yet
  EXPECT_EQ(lang.GetLanguageShortIDByIndex(0), "CH");
  EXPECT_EQ(lang.GetLanguageShortIDByIndex(2), "");
  EXPECT_EQ(lang.GetLanguageShortIDByIndex(-1), "");
  EXPECT_EQ(lang.Original().Size(), 3u);
}

TEST_F(Translation, SelectionRewritesCaptionsAndHintsOfRegisteredFormsButNotMenuItems) {
  Form form;
  auto& lang = MakeLanguage(form);
  auto& button = form.Create<PropertyComponent>("TButton", "Button1",
                                                std::vector<std::string>{"Caption", "Hint"});
  button.SetStringProperty("Caption", "Config");
  button.SetStringProperty("Hint", "OK");
  auto& panel = form.Create<PropertyComponent>("TPanel", "Panel1");  // no Caption: skipped
  auto& inner =
      panel.Create<PropertyComponent>("TLabel", "Label1", std::vector<std::string>{"Caption"});
  inner.SetStringProperty("Caption", "Exit");
  auto& menu =
      form.Create<PropertyComponent>("TMenuItem", "Exit1", std::vector<std::string>{"Caption"});
  menu.SetStringProperty("Caption", "Exit");
  auto& tabs = form.Create<PropertyComponent>("TTabControl", "Tabs1");
  tabs.DeclareListProperty("Tabs", {"Config", "Other"});
  lang.LoadFromForm(formResource);
  lang.Loaded();

  std::vector<std::string> changed;
  lang.OnLanguageChanged = [&](TgxLanguage&, const std::string& id, const std::string& name) {
    changed.push_back(id + "/" + name);
  };
  lang.SetLang("CH");
  EXPECT_EQ(button.GetStringProperty("Caption"), "打开配置");
  EXPECT_EQ(button.GetStringProperty("Hint"), "确定");
  EXPECT_EQ(inner.GetStringProperty("Caption"), "退出软件");
  EXPECT_EQ(menu.GetStringProperty("Caption"), "Exit");
  EXPECT_EQ(tabs.GetListProperty("Tabs"), (std::vector<std::string>{"打开配置", "Other"}));

  // An unknown ID keeps the table, still walks the forms and still tells the owner.
  inner.SetStringProperty("Caption", "Config");
  lang.SetLang("XX");
  EXPECT_EQ(inner.GetStringProperty("Caption"), "打开配置");
  EXPECT_EQ(lang.Lang(), "XX");
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_EQ(changed[1], "XX/");
}

TEST_F(Translation, BaseNamesFollowTheOwnerChain) {
  Form form;
  auto& panel = form.Create<PropertyComponent>("TPanel", "Panel1");
  auto& inner = panel.Create<PropertyComponent>("TPanel", "Panel2");
  auto& leaf = inner.Create<PropertyComponent>("TLabel", "Label1");
  EXPECT_EQ(TgxLanguage::GetComponentBaseName(&form), "TForm1");
  EXPECT_EQ(TgxLanguage::GetComponentBaseName(&panel), "TForm1");
  EXPECT_EQ(TgxLanguage::GetComponentBaseName(&leaf), "TForm1.Panel1.Panel2");
  PropertyComponent loose("TLabel", "x");
  EXPECT_EQ(TgxLanguage::GetComponentBaseName(&loose), "");
}

TEST_F(Translation, LanguageFileComesFirstAndAMalformedOneChangesNothing) {
  WriteFile(p.paths.ExecutableDir() + "gx.local",
            Resource({"Config"}, {{"US", {"Config=Settings"}}}));
  {
    Form form;
    auto& lang = MakeLanguage(form);
    lang.LoadFromForm(formResource);
    lang.Loaded();
    EXPECT_EQ(lang.LanguageCount(), 3u);
    EXPECT_EQ(lang.GetLanguageIndexByShortID("US"), 0);
    EXPECT_EQ(lang.Original().Size(), 3u);  // the form's sources replace the file's
  }
  auto bad = Resource({"Config"}, {{"US", {"Config=Settings"}}});
  bad.resize(bad.size() - 3);
  WriteFile(p.paths.ExecutableDir() + "gx.local", bad);
  Form form;
  auto& lang = MakeLanguage(form);
  lang.LoadFromForm(formResource);
  lang.Loaded();
  EXPECT_EQ(lang.LanguageCount(), 2u);
  const auto lines = p.debug.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("gx.local"), std::string::npos);

  // Loading the bad file on purpose: a clear error, the languages as they were.
  try {
    lang.LoadFromFile(p.paths.ExecutableDir() + "gx.local");
    FAIL();
  } catch (const LanguageFormatError& e) {
    EXPECT_NE(std::string(e.what()).find("gx.local"), std::string::npos);
  }
  EXPECT_EQ(lang.LanguageCount(), 2u);
  EXPECT_EQ(lang.Original().Size(), 3u);
  EXPECT_THROW(lang.LoadFromForm(bad), LanguageFormatError);
  EXPECT_EQ(lang.LanguageCount(), 2u);
  EXPECT_FALSE(lang.LoadFromFile(p.paths.ExecutableDir() + "missing.local"));
}

TEST_F(Translation, ALanguageFileWithBytesAfterItsLastLanguageIsReadAndTheRestTraced) {
  auto file = Resource({"Config"}, {{"US", {"Config=Settings"}}});
  file.insert(file.end(), {3, 0, 0, 0, 'D', 0});  // the start of a language that never came
  WriteFile(p.paths.ExecutableDir() + "gx.local", file);
  Form form;
  auto& lang = MakeLanguage(form);
  lang.LoadFromForm(formResource);
  lang.Loaded();
  EXPECT_EQ(lang.LanguageCount(), 3u);
  EXPECT_EQ(lang.GetLanguageIndexByShortID("US"), 0) << "the file's languages come first";
  lang.SetLang("US");
  EXPECT_EQ(TranslateText("Config"), "Settings");
  const auto lines = p.debug.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "language resource " + p.paths.ExecutableDir() +
                          "gx.local: 6 bytes after the last language ignored");
}

TEST_F(Translation, SaveAndLoadKeepEveryLanguage) {
  Form form;
  auto& lang = MakeLanguage(form, false);
  lang.LoadFromForm(formResource);
  lang.AddLang("de");
  lang.AddLang("DE");  // already there
  lang.Translations("DE")->Add("Config=Einstellungen");
  const std::string file = p.paths.ExecutableDir() + "saved.local";
  lang.SaveToFile(file);
  Form other;
  auto& copy = MakeLanguage(other, false);
  ASSERT_TRUE(copy.LoadFromFile(file));
  EXPECT_EQ(copy.WriteResources(), lang.WriteResources());
  EXPECT_EQ(copy.LanguageCount(), 3u);
  EXPECT_THROW(lang.SaveToFile(p.paths.ExecutableDir() + "no/such/folder/x.local"),
               std::runtime_error);
}

TEST_F(Translation, DestroyedFormsAreNoLongerWalked) {
  auto form = std::make_unique<Form>();
  auto& lang = MakeLanguage(*form);
  const int forms = TgxLanguage::gxParentFormCount();
  Form keeper;
  auto& lang2 = MakeLanguage(keeper);
  lang2.LoadFromForm(formResource);
  lang2.Loaded();
  EXPECT_EQ(TgxLanguage::gxParentFormCount(), forms + 1);
  (void)lang;
  form.reset();
  EXPECT_EQ(TgxLanguage::gxParentFormCount(), forms);
  EXPECT_EQ(LanguageForms(), std::vector<Component*>{&keeper});
  lang2.SetLang("CH");  // would touch the destroyed form if it were still listed
}

TEST_F(Translation, LocaleNamesAndDefaults) {
  Form form;
  auto& lang = MakeLanguage(form);
  EXPECT_EQ(lang.GetOSDefaultLang(), "0409");
  locale.SetSystemDefaultLanguageId(0x0804);
  EXPECT_EQ(lang.GetOSDefaultLang(), "0804");
  EXPECT_EQ(lang.GetLanguageLongNameByLangID("0407"), "Deutsch");
  EXPECT_EQ(lang.GetLanguageLongNameByShortID("us"), "English");
  EXPECT_EQ(lang.GetLanguageLongNameByShortID("CH"), "中文(简体)");  // not German (Switzerland)
  EXPECT_EQ(lang.GetLanguageLongNameByShortID("XX"), "");
  EXPECT_EQ(lang.GetUserLanguageAbbreviation(), "en");
}

TEST_F(Translation, AShortIdNamesTheSameLocaleInAnyEnumerationOrder) {
  // Several locales share most short IDs; the systems list them in different orders.
  std::vector<platform::LocaleInfo> locales = {{0x047A, 0x047A, "Mapudungun", "CHL", "MPD"},
                                               {0x0417, 0x0417, "Rumantsch", "CHE", "RMC"},
                                               {0x045C, 0x045C, "Cherokee", "USA", "CRE"},
                                               {0x0804, 0x0804, "中文(简体)", "CHN", "CHS"},
                                               {0x0403, 0x0403, "català", "ESP", "CAT"},
                                               {0x0C0A, 0x0C0A, "español", "ESP", "ESN"},
                                               {0x540A, 0x540A, "español (EE.UU.)", "USA", "EST"},
                                               {0x0409, 0x0409, "English", "USA", "ENU"},
                                               {0x0452, 0x0452, "Cymraeg", "GBR", "CYM"},
                                               {0x0809, 0x0809, "English (UK)", "GBR", "ENG"}};
  for (int order = 0; order < 2; ++order) {
    SCOPED_TRACE(order == 0 ? "as listed" : "reversed");
    locale.SetLocales(locales);
    Form form;
    auto& lang = MakeLanguage(form);
    EXPECT_EQ(lang.GetLanguageLongNameByShortID("CH"), "中文(简体)");  // the suite's languages
    EXPECT_EQ(lang.GetLanguageLongNameByShortID("us"), "English");
    EXPECT_EQ(lang.GetLanguageLongNameByShortID("ES"), "español");  // named like its country
    EXPECT_EQ(lang.GetLanguageLongNameByShortID("GB"), "Cymraeg");  // else the lowest ID
    std::string longName;
    lang.OnLanguageChanged = [&](TgxLanguage&, const std::string&, const std::string& name) {
      longName = name;
    };
    lang.LoadFromForm(formResource);
    lang.Loaded();
    lang.SetLang("CH");
    EXPECT_EQ(longName, "中文(简体)");
    std::reverse(locales.begin(), locales.end());
  }
  // Without the suite's locale a short ID still names one deterministically.
  locale.SetLocales(
      {{0x0807, 0x0807, "Deutsch", "CHE", "DES"}, {0x047A, 0x047A, "Mapudungun", "CHL", "MPD"}});
  Form form;
  EXPECT_EQ(MakeLanguage(form).GetLanguageLongNameByShortID("CH"), "Mapudungun");
}

TEST_F(Translation, LoadingSelectsTheUsersLanguageForViewsOnly) {
  locale.SetUserLanguageAbbreviation("CHS");
  Form form;
  auto& lang = MakeLanguage(form);
  auto& label = form.Create<PropertyComponent>("TLabel", "L", std::vector<std::string>{"Caption"});
  label.SetStringProperty("Caption", "Config");
  lang.LoadFromForm(formResource);
  lang.SetStoreLang("US");  // while loading only the ID is kept
  EXPECT_FALSE(HasActiveTranslationTable());
  lang.Loaded();
  EXPECT_EQ(TranslateText("Config"), "打开配置");
  EXPECT_EQ(lang.Lang(), "");
  EXPECT_EQ(label.GetStringProperty("Caption"), "Config");
  lang.SetAutoSelect(true);  // through the component: forms too
  EXPECT_EQ(lang.Lang(), "ch");
  EXPECT_EQ(label.GetStringProperty("Caption"), "打开配置");
}

TEST_F(Translation, DesignTimeCollectionGathersViewAndFormTexts) {
  Form form;
  auto& lang = TgxLanguage::Create(form, "gxLanguage1", {&locale, &p.paths, &p.debug, true, {}});
  auto& label =
      form.Create<PropertyComponent>("TLabel", "L", std::vector<std::string>{"Caption", "Hint"});
  label.SetStringProperty("Caption", "Apply");
  label.SetStringProperty("Hint", "Applies it");
  LabelsView view;
  lang.SetActive(true);
  EXPECT_FALSE(lang.Active());
  for (const char* t : {"Apply", "Applies it", "Config", "Exit", "Wheel Down(Mouse)", "ms"})
    EXPECT_TRUE(lang.Original().Contains(t)) << t;
  EXPECT_EQ(locale.EnumerationCount(), 0u);  // no locale work in the designer
}

}  // namespace
