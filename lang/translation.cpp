#include "lang/translation.h"

#include <algorithm>
#include <memory>

namespace kv {
namespace {

struct State {
  std::unique_ptr<lang::SortedLines> table;
  bool reverse = false;
  bool collecting = false;
  std::vector<std::string> collected;
  std::vector<lang::TranslationView*> views;
  std::vector<Component*> forms;
};

State& St() {
  static State state;
  return state;
}

void RefreshViews() {
  // A view's refresh may create or destroy views: walk a copy, skipping the departed.
  const auto views = St().views;
  for (auto* v : views)
    if (std::find(St().views.begin(), St().views.end(), v) != St().views.end())
      v->RefreshTranslation();
}

}  // namespace

std::string TranslateText(std::string_view text) {
  State& s = St();
  if (text.empty()) return {};
  if (s.collecting) s.collected.emplace_back(text);
  if (!s.table) return std::string(text);
  std::string result;
  if (s.reverse) {
    if (!s.table->FindName(text, result)) result.clear();
  } else {
    std::string storage;
    if (const std::string* v = s.table->FindValue(text, storage)) result = *v;
  }
  return result.empty() ? std::string(text) : result;
}

namespace lang {

TranslationView::TranslationView(std::string className, std::string name)
    : Component(std::move(className), std::move(name), Role::View) {
  St().views.push_back(this);
}

TranslationView::~TranslationView() { std::erase(St().views, this); }

void ResetTranslationTable() {
  State& s = St();
  if (!s.table) return;
  s.reverse = true;
  RefreshViews();
  s.table.reset();
  s.reverse = false;
}

void ActivateTranslationTable(const SortedLines* table) {
  if (!table) return;
  auto copy = std::make_unique<SortedLines>(*table);  // before the reset: `table` may be ours
  ResetTranslationTable();
  St().table = std::move(copy);
  RefreshViews();
}

bool HasActiveTranslationTable() { return St().table != nullptr; }

void RefreshTranslationViews() { RefreshViews(); }

void StartCollecting() {
  St().collecting = true;
  St().collected.clear();
}

std::vector<std::string> StopCollecting() {
  St().collecting = false;
  return std::exchange(St().collected, {});
}

void RegisterLanguageForm(Component* form) { St().forms.push_back(form); }

void UnregisterLanguageForm(Component* form) {
  auto& f = St().forms;
  auto it = std::find(f.begin(), f.end(), form);
  if (it != f.end()) f.erase(it);
}

std::vector<Component*> LanguageForms() { return St().forms; }

}  // namespace lang
}  // namespace kv
