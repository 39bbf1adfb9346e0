#pragma once
// The small component model that forms, data modules and their parts share: a name, an owner,
// the owned components in creation order, a class name, and string properties addressed by
// name (what the translation component walks over). Owners own their components: destroying an
// owner destroys them in reverse order of creation.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class Component {
 public:
  // What a component is, as far as walks over component trees care.
  enum class Role { Plain, Application, Form, DataModule, View };

  Component(std::string className, std::string name, Role role = Role::Plain);
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const std::string& ClassName() const { return className_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  Role GetRole() const { return role_; }
  bool IsForm() const { return role_ == Role::Form; }
  Component* Owner() const { return owner_; }

  // Takes ownership of `child` and returns it. The child's owner becomes this component.
  template <class T>
  T& Own(std::unique_ptr<T> child) {
    T& ref = *child;
    Adopt(std::unique_ptr<Component>(std::move(child)));
    return ref;
  }
  template <class T, class... Args>
  T& Create(Args&&... args) {
    return Own(std::make_unique<T>(std::forward<Args>(args)...));
  }
  // Destroys an owned component; its slot stays, empty, so positions do not move.
  void Release(Component& child);
  std::size_t ComponentCount() const { return owned_.size(); }
  // nullptr for an empty slot.
  Component* ComponentAt(std::size_t index) const;
  Component* FindComponent(std::string_view name) const;

  // String properties. A component without the property gives nullopt / false.
  std::optional<std::string> GetStringProperty(std::string_view name) const;
  bool SetStringProperty(std::string_view name, std::string_view value);
  bool HasStringProperty(std::string_view name) const;
  // String-list properties (item lists of list controls), the same way.
  std::optional<std::vector<std::string>> GetListProperty(std::string_view name) const;
  bool SetListProperty(std::string_view name, std::vector<std::string> value);

 protected:
  // A property stored in the component (its value readable and writable by name).
  void DeclareProperty(std::string name, std::string initial = {});
  // A property whose value lives elsewhere (a tray icon's hint, a menu's caption).
  void DeclareProperty(std::string name, std::function<std::string()> get,
                       std::function<void(const std::string&)> set);
  void DeclareListProperty(std::string name, std::vector<std::string> initial = {});

 private:
  struct Property {
    std::string value;
    std::function<std::string()> get;
    std::function<void(const std::string&)> set;
  };
  void Adopt(std::unique_ptr<Component> child);

  std::string className_, name_;
  Role role_;
  Component* owner_ = nullptr;
  std::vector<std::unique_ptr<Component>> owned_;
  std::map<std::string, Property, std::less<>> properties_;
  std::map<std::string, std::vector<std::string>, std::less<>> lists_;
};

// A plain component that carries the properties it is given; for forms' simple parts.
class PropertyComponent : public Component {
 public:
  PropertyComponent(std::string className, std::string name,
                    std::vector<std::string> properties = {}, Role role = Role::Plain);
  using Component::DeclareListProperty;
  using Component::DeclareProperty;
};

}  // namespace kv
