#include "lang/gx_language.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "base/path.h"
#include "base/strings.h"

namespace kv::lang {
namespace {

int g_parentFormCount = 0;

// The recorder texts that the design-time collection adds to the source texts.
const char* const kRecorderTexts[] = {"Down",
                                      "Up",
                                      "ms",
                                      "Mouse Click",
                                      "Mouse Right Click",
                                      "Mouse Middle Click",
                                      "Backward(Mouse)",
                                      "Forward(Mouse)",
                                      "Wheel up(Mouse)",
                                      "Wheel Down(Mouse)"};

// Controls whose own text and hint are translated, and controls whose item list and hint are.
const char* const kTextKinds[] = {"TTabSheet", "TStatusBar"};
const char* const kItemKinds[] = {"TTabControl", "TComboBoxEx"};

bool OnList(const std::vector<std::string>& list, const std::string& name) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& s) { return EqualsIgnoreCase(s, name); });
}

template <std::size_t N>
bool OnList(const char* const (&list)[N], const std::string& name) {
  return std::any_of(std::begin(list), std::end(list),
                     [&](const char* s) { return EqualsIgnoreCase(s, name); });
}

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
  return buf;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName) {
  std::ifstream in(path::ToFs(fileName), std::ios::binary);
  if (!in) throw std::runtime_error("cannot open language file " + fileName);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) throw std::runtime_error("cannot read language file " + fileName);
  return bytes;
}

}  // namespace

// --- store -------------------------------------------------------------------------------------

TvgLang::TvgLang(std::string className, std::string name)
    : Component(std::move(className), std::move(name)) {}

void TvgLang::Merge(LanguageResource res) {
  original_.Assign(res.original);
  for (auto& [id, lines] : res.languages)
    resources_.emplace_back(std::move(id), SortedLines(lines));
}

LanguageResource TvgLang::Parse(std::span<const std::uint8_t> bytes,
                                std::string_view source) const {
  LanguageResource res = ReadLanguageResource(bytes);
  if (const std::string note = IgnoredBytesNote(res, source); !note.empty() && trace_)
    trace_->Write("language resource " + note);
  return res;
}

bool TvgLang::LoadFromFile(const std::string& fileName) {
  if (!path::FileExists(fileName)) return false;
  const auto bytes = ReadWholeFile(fileName);
  try {
    Merge(Parse(bytes, fileName));  // parsed whole before anything changes
  } catch (const LanguageFormatError& e) {
    throw LanguageFormatError(fileName + ": " + e.what());
  }
  return true;
}

void TvgLang::SaveToFile(const std::string& fileName) const {
  const auto bytes = WriteResources();
  // Written beside the target and renamed over it, so a failed write never leaves half a file.
  const auto target = path::ToFs(fileName);
  auto temp = target;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(temp, ec);
      throw std::runtime_error("cannot write language file " + fileName);
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    throw std::runtime_error("cannot replace language file " + fileName);
  }
}

void TvgLang::AddLang(const std::string& name) {
  if (!Translations(name)) resources_.emplace_back(name, SortedLines{});
}

void TvgLang::ReadResources(std::span<const std::uint8_t> bytes) {
  Merge(Parse(bytes, "of the form"));
}

std::vector<std::uint8_t> TvgLang::WriteResources() const {
  LanguageResource res;
  res.original = original_.Lines();
  for (auto& [id, lines] : resources_) res.languages.emplace_back(id, lines.Lines());
  return WriteLanguageResource(res);
}

const SortedLines* TvgLang::Translations(std::string_view shortId) const {
  for (auto& [id, lines] : resources_)
    if (EqualsIgnoreCase(id, shortId)) return &lines;
  return nullptr;
}

SortedLines* TvgLang::Translations(std::string_view shortId) {
  return const_cast<SortedLines*>(std::as_const(*this).Translations(shortId));
}

void TvgLang::SetStoreLang(const std::string& shortId) {
  lang_ = shortId;
  if (loading_) return;
  if (shortId == "en") ResetTranslationTable();
  else ActivateTranslationTable(Translations(shortId));
}

// --- component ---------------------------------------------------------------------------------

TgxLanguage::TgxLanguage(std::string name, Services services)
    : TvgLang("TgxLanguage", std::move(name)), services_(std::move(services)) {
  trace_ = services_.debug;
  propertyList_ = {"Caption", "Hint"};
  specialClasses_ = {"TMenuItem", "TTabControl", "TTabSheet",   "TListView",
                     "TTreeView", "TStatusBar",  "TComboBoxEx", "TgxMenuEx"};
}

TgxLanguage& TgxLanguage::Create(Component& owner, std::string name, Services services) {
  auto& self = owner.Own(std::unique_ptr<TgxLanguage>(new TgxLanguage(std::move(name), services)));
  self.loading_ = true;
  if (!self.services_.designing) self.BuildLocaleTables();
  if (owner.IsForm()) {
    self.ownerForm_ = &owner;
    RegisterLanguageForm(&owner);
    ++g_parentFormCount;
  }
  if (!self.services_.designing && self.services_.paths) {
    const std::string file = self.services_.paths->ExecutableDir() + "gx.local";
    // Parsed completely before the languages are replaced: a bad file leaves them as they were.
    try {
      if (path::FileExists(file)) {
        const auto res = self.Parse(ReadWholeFile(file), file);
        self.ClearLanguages();
        self.Merge(res);
      }
    } catch (const std::exception& e) {
      if (self.services_.debug)
        self.services_.debug->Write(std::string("language file not loaded: ") + file + ": " +
                                    e.what());
    }
  }
  return self;
}

TgxLanguage::~TgxLanguage() {
  if (ownerForm_) {
    UnregisterLanguageForm(ownerForm_);
    --g_parentFormCount;
  }
}

int TgxLanguage::gxParentFormCount() { return g_parentFormCount; }

void TgxLanguage::LoadFromForm(std::span<const std::uint8_t> resourcesBin) {
  ReadResources(resourcesBin);
}

void TgxLanguage::Loaded() {
  loading_ = false;
  if (!fileName.empty() && !services_.programFileName.empty()) {
    const std::string extra =
        services_.programFileName + fileName;  // relative to the current folder
    try {
      LoadFromFile(extra);
    } catch (const std::exception& e) {
      if (services_.debug)
        services_.debug->Write(std::string("language file not loaded: ") + e.what());
    }
  }
  if (storeAutoSelect_) {
    lang_ = GetUserLanguageAbbreviation();
    if (!lang_.empty()) ActivateTranslationTable(Translations(lang_));
  }
}

void TgxLanguage::BuildLocaleTables() {
  byLangId_.clear();
  byShortId_.clear();
  if (!services_.locale) return;
  // A language's short ID ("US", "CH") is the first two letters of its locale's abbreviated
  // country name ("USA", "CHN"). Several locales share most short IDs ("CH": China, Chile,
  // Switzerland; "US": every language of the United States), and the systems list them in
  // different orders, so the locale that names a short ID is chosen by rank, then by the
  // lowest locale ID: first the locales of the suite's own languages ("CH" Chinese (PRC), "US"
  // English (United States)), then a country's language named like it ("ESP" Spanish in
  // Spain, not Catalan), then any.
  struct Candidate {
    std::string shortId;
    int rank;
    std::uint32_t localeId;
    const platform::LocaleInfo* info;
  };
  const auto locales = services_.locale->SupportedLocales();
  std::vector<Candidate> candidates;
  for (const auto& info : locales) {
    const std::string langId = Hex4(info.languageId);
    byLangId_.push_back({langId, info.nativeLanguageName, langId});
    if (info.abbreviatedCountryName.size() < 2) continue;
    const std::string shortId = AsciiUpper(info.abbreviatedCountryName.substr(0, 2));
    const bool suites = (shortId == "CH" && info.localeId == 0x0804) ||
                        (shortId == "US" && info.localeId == 0x0409);
    const bool national = AsciiUpper(info.abbreviatedLanguageName.substr(0, 2)) == shortId;
    candidates.push_back({shortId, suites ? 0 : national ? 1 : 2, info.localeId, &info});
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return std::tie(a.shortId, a.rank, a.localeId) < std::tie(b.shortId, b.rank, b.localeId);
  });
  for (const auto& c : candidates)
    byShortId_.push_back({c.shortId, c.info->nativeLanguageName, Hex4(c.info->languageId)});
}

void TgxLanguage::SetLang(const std::string& value) {
  SetStoreLang(value);
  languageName_ = value;
  if (!services_.designing) {
    for (Component* form : LanguageForms()) {
      std::vector<std::string> texts;
      TranslateComponentTree(form, texts, true);
    }
  }
  if (OnLanguageChanged)
    OnLanguageChanged(*this, languageName_, GetLanguageLongNameByShortID(languageName_));
}

int TgxLanguage::GetLanguageIndexByShortID(std::string_view shortId) const {
  for (std::size_t i = 0; i < resources_.size(); ++i)
    if (EqualsIgnoreCase(resources_[i].first, shortId)) return static_cast<int>(i);
  return -1;
}

std::string TgxLanguage::GetLanguageShortIDByIndex(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= resources_.size()) return {};
  return resources_[static_cast<std::size_t>(index)].first;
}

std::string TgxLanguage::GetOSDefaultLang() const {
  return services_.locale ? Hex4(services_.locale->SystemDefaultLanguageId()) : std::string();
}

namespace {
std::string LongName(const std::vector<TgxLanguage::LocaleName>& table, std::string_view key) {
  for (auto& e : table)
    if (EqualsIgnoreCase(e.key, key)) return e.nativeName;
  return {};
}
}  // namespace

std::string TgxLanguage::GetLanguageLongNameByLangID(std::string_view langId) const {
  return LongName(byLangId_, langId);
}

std::string TgxLanguage::GetLanguageLongNameByShortID(std::string_view shortId) const {
  return LongName(byShortId_, shortId);
}

std::string TgxLanguage::GetUserLanguageAbbreviation() const {
  if (!services_.locale) return {};
  return AsciiLower(services_.locale->UserLanguageAbbreviation().substr(0, 2));
}

void TgxLanguage::SetAutoSelect(bool value) {
  autoSelect_ = value;
  if (value) SetLang(GetUserLanguageAbbreviation());
}

void TgxLanguage::SetActive(bool value) {
  if (!services_.designing || !value) {
    active_ = value;
    return;
  }
  // Design time: gather every text the views and the registered forms show into the sources.
  active_ = true;
  ResetTranslationTable();
  StartCollecting();
  RefreshTranslationViews();
  for (auto& t : StopCollecting()) original_.Add(t);
  for (Component* form : LanguageForms()) {
    std::vector<std::string> texts;
    TranslateComponentTree(form, texts, false);
    for (auto& t : texts) original_.Add(t);
  }
  for (const char* t : kRecorderTexts) original_.Add(t);
  // The translation editor would open here; it is not part of this program.
  active_ = false;
}

void TgxLanguage::SetActiveLoadFromFile(bool value, const std::string& chosenFile) {
  if (!value || !services_.designing || chosenFile.empty()) return;
  // Parse first so that a bad choice leaves the languages as they were.
  const auto res = Parse(ReadWholeFile(chosenFile), chosenFile);
  ClearLanguages();
  Merge(res);
}

std::string TgxLanguage::GetComponentBaseName(const Component* c) {
  if (!c) return {};
  if (c->IsForm() || c->GetRole() == Component::Role::DataModule) return c->ClassName();
  const Component* owner = c->Owner();
  if (!owner) return {};
  if (owner->IsForm()) return owner->ClassName();
  return GetComponentBaseName(owner) + "." + owner->Name();
}

void TgxLanguage::TranslateComponentTree(Component* component, std::vector<std::string>& textList,
                                         bool translate) {
  if (!component) return;
  const std::string base = GetComponentBaseName(component);
  std::vector<Component*> visited{component};
  if (component->ComponentCount() == 0)
    TranslateComponentProperties(component, textList, translate);
  else WalkComponent(component, textList, visited, base, translate);
}

void TgxLanguage::WalkComponent(Component* c, std::vector<std::string>& textList,
                                std::vector<Component*>& visited, const std::string& baseName,
                                bool translate) {
  TranslateComponentProperties(c, textList, translate);
  for (std::size_t i = 0; i < c->ComponentCount(); ++i) {
    Component* item = c->ComponentAt(i);
    if (!item) continue;
    if (OnList(specialClasses_, item->ClassName())) {
      TranslateSpecialComponent(item, textList, translate);
      continue;
    }
    if (OnList(customClasses_, item->ClassName())) {
      if (OnCustomTranslate) OnCustomTranslate(item, textList, visited, baseName, translate);
      continue;
    }
    if (c->GetRole() == Component::Role::Application && item->IsForm()) continue;
    if (item->GetRole() == Component::Role::View) {
      visited.push_back(item);  // views translate themselves
      continue;
    }
    if (std::find(visited.begin(), visited.end(), item) != visited.end()) continue;
    visited.push_back(item);
    WalkComponent(item, textList, visited, c->IsForm() ? baseName : baseName + "." + c->Name(),
                  translate);
  }
}

void TgxLanguage::TranslateOneText(std::string& text, std::vector<std::string>& textList,
                                   bool translate) {
  if (text.empty()) return;
  textList.push_back(text);
  std::string result = TranslateText(text);
  if (translate && !result.empty()) text = std::move(result);
}

void TgxLanguage::TranslateComponentProperties(Component* c, std::vector<std::string>& textList,
                                               bool translate) {
  for (const auto& name : propertyList_) {
    auto value = c->GetStringProperty(name);
    if (!value || value->empty()) continue;
    TranslateOneText(*value, textList, translate);
    if (translate) c->SetStringProperty(name, *value);
  }
}

void TgxLanguage::TranslateSpecialComponent(Component* c, std::vector<std::string>& textList,
                                            bool translate) {
  const bool textKind = OnList(kTextKinds, c->ClassName());
  const bool itemKind = OnList(kItemKinds, c->ClassName());
  if (!textKind && !itemKind) return;  // menu items and the other lists stay as they are
  if (textKind) {
    for (const char* prop : {"Caption", "Text", "SimpleText"}) {
      auto value = c->GetStringProperty(prop);
      if (!value) continue;
      TranslateOneText(*value, textList, translate);
      if (translate) c->SetStringProperty(prop, *value);
      break;
    }
  } else {
    for (const char* prop : {"Tabs", "Items"}) {
      auto items = c->GetListProperty(prop);
      if (!items) continue;
      for (auto& item : *items) TranslateOneText(item, textList, translate);
      if (translate) c->SetListProperty(prop, std::move(*items));
      break;
    }
  }
  if (auto hint = c->GetStringProperty("Hint")) {
    TranslateOneText(*hint, textList, translate);
    if (translate) c->SetStringProperty("Hint", *hint);
  }
}

}  // namespace kv::lang
