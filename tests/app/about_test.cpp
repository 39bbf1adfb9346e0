#include <gtest/gtest.h>

#include "app/about.h"
#include "app/embedded_languages.h"
#include "lang/gx_language.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_shell.h"

using namespace kv;
namespace sim = kv::platform::sim;

namespace {

struct About : ::testing::Test {
  void SetUp() override { lang::ResetTranslationTable(); }
  void TearDown() override { lang::ResetTranslationTable(); }
};

const platform::ContentElement& Element(const platform::WindowContent& c, const std::string& name) {
  for (auto& e : c.elements)
    if (e.name == name) return e;
  throw std::runtime_error("no element " + name);
}

TEST_F(About, LayoutKeepsItsPositionsFontsAndContainer) {
  const auto c = AboutContent();
  EXPECT_EQ(c.clientWidth, 504);
  EXPECT_EQ(c.clientHeight, 400);
  const auto& ok = Element(c, "BtnOK");
  EXPECT_EQ(std::tie(ok.x, ok.y, ok.width, ok.height), std::make_tuple(208, 325, 94, 27));
  EXPECT_TRUE(ok.font.bold);
  EXPECT_EQ(ok.images.size(), 3u);
  const auto& label4 = Element(c, "Label4");
  EXPECT_EQ(c.elements[std::size_t(label4.parent)].name, "Rectangle1");
  EXPECT_EQ(std::tie(label4.x, label4.y), std::make_tuple(20, 111));
  EXPECT_EQ(label4.font.size, 16);
  EXPECT_EQ(Element(c, "Label2").font.size, 13);
  EXPECT_EQ(Element(c, "TextWeb").color, 0xFFFFFFFFu);
  EXPECT_EQ(Element(c, "ImageMain").width, 504);
}

TEST_F(About, EmbeddedLanguagesHoldTheMonitorsTextsAndTheViewFollowsTheSelection) {
  sim::SimPlatform p;
  sim::SimShell shell(p.loop);
  Component form("TKVMONMAIN", "main", Component::Role::Form);
  auto& language =
      lang::TgxLanguage::Create(form, "gxLanguage1", {nullptr, nullptr, nullptr, false, {}});
  language.LoadFromForm(MonitorLanguageResource());
  language.Loaded();
  ASSERT_EQ(language.GetLanguageShortIDByIndex(0), "CH");
  ASSERT_EQ(language.GetLanguageShortIDByIndex(1), "US");

  AboutView view(&shell, nullptr);
  language.SetLang("CH");
  EXPECT_EQ(TranslateText("Config"), "打开配置");
  EXPECT_EQ(TranslateText("About"), "关于软件");
  EXPECT_EQ(TranslateText("Exit"), "退出软件");
  EXPECT_EQ(TranslateText("GAMING MOUSE DRIVER"), "GAMING MOUSE DRIVER");
  EXPECT_EQ(view.Text("BtnOK"), "确定");
  EXPECT_EQ(view.Text("Label1"), "硬件与软件信息：");
  EXPECT_EQ(view.Text("Label3"), "软件版本：1.00.00");
  EXPECT_EQ(view.Text("Label4"), "软件更新网站：");
  EXPECT_EQ(view.Text("TextWeb"), kWebSiteAddress);
  ASSERT_NE(shell.Content(), nullptr);
  EXPECT_EQ(Element(*shell.Content(), "Label2").text, "硬件版本：1.00.00");  // the window got it

  language.SetLang("US");
  EXPECT_EQ(TranslateText("Config"), "Config");
  EXPECT_EQ(view.Text("BtnOK"), "OK");
  EXPECT_EQ(view.Text("Label2"), "Hardware Core:1.00.00");
  EXPECT_EQ(Element(*shell.Content(), "Label2").text, "Hardware Core:1.00.00");
}

}  // namespace
