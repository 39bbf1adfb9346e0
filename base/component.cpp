#include "base/component.h"

#include <algorithm>

namespace kv {

Component::Component(std::string className, std::string name, Role role)
    : className_(std::move(className)), name_(std::move(name)), role_(role) {}

Component::~Component() {
  // Reverse order of creation, as the owners' contract says.
  while (!owned_.empty()) owned_.pop_back();
}

void Component::Adopt(std::unique_ptr<Component> child) {
  child->owner_ = this;
  owned_.push_back(std::move(child));
}

void Component::Release(Component& child) {
  for (auto& slot : owned_)
    if (slot.get() == &child) slot.reset();
}

Component* Component::ComponentAt(std::size_t index) const {
  return index < owned_.size() ? owned_[index].get() : nullptr;
}

Component* Component::FindComponent(std::string_view name) const {
  for (auto& c : owned_)
    if (c && c->name_ == name) return c.get();
  return nullptr;
}

void Component::DeclareProperty(std::string name, std::string initial) {
  properties_[std::move(name)] = Property{std::move(initial), nullptr, nullptr};
}

void Component::DeclareProperty(std::string name, std::function<std::string()> get,
                                std::function<void(const std::string&)> set) {
  properties_[std::move(name)] = Property{{}, std::move(get), std::move(set)};
}

void Component::DeclareListProperty(std::string name, std::vector<std::string> initial) {
  lists_[std::move(name)] = std::move(initial);
}

std::optional<std::string> Component::GetStringProperty(std::string_view name) const {
  auto it = properties_.find(name);
  if (it == properties_.end()) return std::nullopt;
  return it->second.get ? it->second.get() : it->second.value;
}

bool Component::SetStringProperty(std::string_view name, std::string_view value) {
  auto it = properties_.find(name);
  if (it == properties_.end()) return false;
  if (it->second.set) it->second.set(std::string(value));
  else it->second.value = value;
  return true;
}

bool Component::HasStringProperty(std::string_view name) const {
  return properties_.find(name) != properties_.end();
}

std::optional<std::vector<std::string>> Component::GetListProperty(std::string_view name) const {
  auto it = lists_.find(name);
  if (it == lists_.end()) return std::nullopt;
  return it->second;
}

bool Component::SetListProperty(std::string_view name, std::vector<std::string> value) {
  auto it = lists_.find(name);
  if (it == lists_.end()) return false;
  it->second = std::move(value);
  return true;
}

PropertyComponent::PropertyComponent(std::string className, std::string name,
                                     std::vector<std::string> properties, Role role)
    : Component(std::move(className), std::move(name), role) {
  for (auto& p : properties) DeclareProperty(std::move(p));
}

}  // namespace kv
