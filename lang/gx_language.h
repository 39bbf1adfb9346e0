#pragma once
// TgxLanguage: switches the user interface between languages. It keeps the source texts and,
// per language, a translation list ("source=translation" lines). Selecting a language makes
// its list the process-wide table TranslateText consults and rewrites the Caption and Hint of
// every component of the forms that own a translation component.
//
// The store part (TvgLang) holds the languages; TgxLanguage adds the component's selection,
// the walk over the forms and the locale tables. Main thread only.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "lang/language_resource.h"
#include "lang/translation.h"
#include "platform/locale.h"

namespace kv::lang {

// The language store.
class TvgLang : public Component {
 public:
  TvgLang(std::string className, std::string name);

  // Reads a file in the resource format when it exists: its languages are appended and its
  // source texts replace the store's. False when there is no such file. Throws
  // LanguageFormatError (malformed) or std::runtime_error (unreadable); the store is then
  // unchanged.
  bool LoadFromFile(const std::string& fileName);
  // Creates or replaces the file. Throws std::runtime_error when it cannot be written; an
  // existing file is then left as it was.
  void SaveToFile(const std::string& fileName) const;
  // Adds an empty translation list unless a language of that name (any letter case) exists.
  void AddLang(const std::string& name);
  // The form's stored resource: source texts replaced, languages appended. Throws
  // LanguageFormatError, leaving the store unchanged.
  void ReadResources(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> WriteResources() const;
  // What the form stores: nothing unless StoreInForm and at least one language.
  bool ShouldStoreResources() const { return storeInForm && !resources_.empty(); }

  // The store's own selection: "en" drops the table (the source texts are English); any other
  // short ID activates that language's list (letter case ignored); an unknown ID changes
  // nothing. While the component is being loaded only the ID is kept.
  void SetStoreLang(const std::string& shortId);
  const std::string& StoreLang() const { return lang_; }

  std::size_t LanguageCount() const { return resources_.size(); }
  const SortedLines& Original() const { return original_; }
  SortedLines& Original() { return original_; }
  // nullptr when there is no such language (letter case ignored).
  const SortedLines* Translations(std::string_view shortId) const;
  SortedLines* Translations(std::string_view shortId);
  void ClearLanguages() { resources_.clear(); }

  std::string fileName;     // FileName: suffix of an extra language file named after the program
  bool storeInForm = true;  // StoreInForm

 protected:
  void Merge(LanguageResource res);
  // Reads a resource; a remainder after its last language is traced (when there is a trace)
  // and otherwise ignored.
  LanguageResource Parse(std::span<const std::uint8_t> bytes, std::string_view source) const;
  platform::DebugOutput* trace_ = nullptr;
  std::vector<std::pair<std::string, SortedLines>> resources_;
  SortedLines original_;
  std::string lang_;
  bool storeAutoSelect_ = true;
  bool loading_ = false;
};

class TgxLanguage : public TvgLang {
 public:
  struct Services {
    platform::Locale* locale = nullptr;      // null: empty locale tables
    platform::Paths* paths = nullptr;        // null: no "gx.local"
    platform::DebugOutput* debug = nullptr;  // where a bad language file is reported
    bool designing = false;                  // inside a form designer
    std::string programFileName;             // the executable's name without folder
  };

  using TOnCustomTranslate = std::function<void(
      Component* AComponent, std::vector<std::string>& ATextList, std::vector<Component*>& AList,
      const std::string& BaseName, bool ATranslate)>;
  using TOnLanguageChanged =
      std::function<void(TgxLanguage& AComponent, const std::string& LanguageShortID,
                         const std::string& LanguageLongName)>;

  // Creates the component owned by `owner` and runs its creation: lists, locale tables, the
  // owner form's registration and, at run time, "gx.local" from the executable's folder. The
  // owner then calls LoadFromForm (when it stores languages) and Loaded.
  static TgxLanguage& Create(Component& owner, std::string name, Services services);
  ~TgxLanguage() override;

  // The owner form's stored resource. Throws LanguageFormatError, leaving the store unchanged.
  void LoadFromForm(std::span<const std::uint8_t> resourcesBin);
  // Loading has finished: the program's extra file, then the user's language for the views.
  void Loaded();

  const std::string& Lang() const { return languageName_; }
  void SetLang(const std::string& value);
  int GetLanguageIndexByShortID(std::string_view shortId) const;
  std::string GetLanguageShortIDByIndex(int index) const;
  std::string GetOSDefaultLang() const;
  std::string GetLanguageLongNameByLangID(std::string_view langId) const;
  std::string GetLanguageLongNameByShortID(std::string_view shortId) const;
  std::string GetUserLanguageAbbreviation() const;

  bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool value);
  bool Active() const { return active_; }
  void SetActive(bool value);
  bool ActiveLoadFromFile() const { return false; }  // an action, never a stored value
  void SetActiveLoadFromFile(bool value, const std::string& chosenFile = {});
  const std::vector<std::string>& CustomClassList() const { return customClasses_; }
  void SetCustomClassList(const std::vector<std::string>& list) { customClasses_ = list; }
  const std::vector<std::string>& SpecialClassName() const { return specialClasses_; }
  static int gxParentFormCount();

  TOnCustomTranslate OnCustomTranslate;
  TOnLanguageChanged OnLanguageChanged;

  // The walk over one component tree: each component's Caption and Hint through TranslateText,
  // written back when translating. Every text met is appended to `textList`.
  void TranslateComponentTree(Component* component, std::vector<std::string>& textList,
                              bool translate);
  static std::string GetComponentBaseName(const Component* c);

  struct LocaleName {
    std::string key, nativeName, langIdText;
  };
  const std::vector<LocaleName>& LocaleNamesByLangID() const { return byLangId_; }
  const std::vector<LocaleName>& LocaleNamesByShortID() const { return byShortId_; }

 private:
  TgxLanguage(std::string name, Services services);
  void WalkComponent(Component* c, std::vector<std::string>& textList,
                     std::vector<Component*>& visited, const std::string& baseName, bool translate);
  void TranslateComponentProperties(Component* c, std::vector<std::string>& textList,
                                    bool translate);
  void TranslateSpecialComponent(Component* c, std::vector<std::string>& textList, bool translate);
  void TranslateOneText(std::string& text, std::vector<std::string>& textList, bool translate);
  void BuildLocaleTables();

  Services services_;
  bool active_ = false;
  bool autoSelect_ = false;
  std::string languageName_;
  std::vector<std::string> propertyList_;
  std::vector<std::string> specialClasses_;
  std::vector<std::string> customClasses_;
  std::vector<LocaleName> byLangId_, byShortId_;
  Component* ownerForm_ = nullptr;
};

}  // namespace kv::lang
