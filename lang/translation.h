#pragma once
// The process-wide translation state: the active translation table that TranslateText
// consults, the views that translate their own texts through it, and the forms whose
// components a language selection rewrites. Main thread only; no locks.
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "lang/language_resource.h"

namespace kv {

// The active table's translation of `text`; `text` itself when there is no table, no line for
// it or an empty translation. Exact comparison, letter case included. While the table is being
// dropped the lookup runs backwards (translation -> source), so that views return to their
// source texts.
std::string TranslateText(std::string_view text);

namespace lang {

// A view (scene) of the UI toolkit: registers itself on creation, and on refresh passes the
// current text and hint of each of its automatically translated controls through
// TranslateText and shows the result.
class TranslationView : public Component {
 public:
  TranslationView(std::string className, std::string name);
  ~TranslationView() override;
  virtual void RefreshTranslation() = 0;
};

// Makes a copy of `table` the active table (null: no change) and refreshes every view, the old
// table's texts first going back to their sources.
void ActivateTranslationTable(const SortedLines* table);
// Drops the active table, after refreshing every view in reverse mode.
void ResetTranslationTable();
bool HasActiveTranslationTable();
// Refreshes every registered view through the current table.
void RefreshTranslationViews();

// Collecting the texts views pass through TranslateText (used to gather source texts).
void StartCollecting();
std::vector<std::string> StopCollecting();

// Forms that own a translation component, in the order their components were created. A form
// is listed once per component it owns and is removed with the component, so a destroyed form
// is never walked.
void RegisterLanguageForm(Component* form);
void UnregisterLanguageForm(Component* form);
std::vector<Component*> LanguageForms();

}  // namespace lang
}  // namespace kv
