#include <gtest/gtest.h>

#include "base/component.h"

using kv::Component;
using kv::PropertyComponent;

namespace {

class Tracked : public Component {
 public:
  Tracked(std::string name, std::vector<std::string>& log)
      : Component("TTracked", name), log_(log) {}
  ~Tracked() override { log_.push_back(Name()); }

 private:
  std::vector<std::string>& log_;
};

TEST(ComponentModel, OwnersDestroyTheirComponentsInReverseOrder) {
  std::vector<std::string> log;
  {
    PropertyComponent form("TForm1", "Form1", {}, Component::Role::Form);
    auto& a = form.Create<Tracked>("a", log);
    a.Create<Tracked>("a.child", log);
    auto& b = form.Create<Tracked>("b", log);
    form.Create<Tracked>("c", log);
    EXPECT_EQ(b.Owner(), &form);
    form.Release(b);  // its slot stays, empty
    EXPECT_EQ(form.ComponentCount(), 3u);
    EXPECT_EQ(form.ComponentAt(1), nullptr);
    EXPECT_EQ(form.FindComponent("c")->Name(), "c");
    EXPECT_EQ(form.FindComponent("b"), nullptr);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"b", "c", "a", "a.child"}));
}

TEST(ComponentModel, PropertiesByNameStoredOrForwarded) {
  std::string hint = "outside";
  PropertyComponent c("TButton", "Button1", {"Caption"});
  c.DeclareProperty(
      "Hint", [&] { return hint; }, [&](const std::string& v) { hint = v; });
  EXPECT_EQ(c.GetStringProperty("Caption"), "");
  EXPECT_TRUE(c.SetStringProperty("Caption", "OK"));
  EXPECT_EQ(c.GetStringProperty("Caption"), "OK");
  EXPECT_EQ(c.GetStringProperty("Hint"), "outside");
  EXPECT_TRUE(c.SetStringProperty("Hint", "inside"));
  EXPECT_EQ(hint, "inside");
  EXPECT_FALSE(c.SetStringProperty("Text", "x"));
  EXPECT_EQ(c.GetStringProperty("Text"), std::nullopt);
  EXPECT_EQ(c.GetListProperty("Items"), std::nullopt);
  EXPECT_FALSE(c.SetListProperty("Items", {"a"}));
}

}  // namespace
