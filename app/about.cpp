#include "app/about.h"

namespace kv {
namespace {

using platform::ContentElement;
using platform::ElementKind;
using platform::Font;
using platform::TextAlign;

constexpr const char* kFace = "Myriad Pro";

// The texts that follow the selected language; the web address does not.
bool Translated(const ContentElement& e) {
  return (e.kind == ElementKind::Label || e.kind == ElementKind::ImageButton) &&
         e.name != "TextWeb";
}

}  // namespace

platform::WindowContent AboutContent() {
  platform::WindowContent c;
  c.className = "TKVMONMAIN";
  c.clientWidth = 504;
  c.clientHeight = 400;
  c.transparent = true;
  const Font normal{kFace, 13, false}, big{kFace, 16, true}, button{kFace, 13, true};
  auto add = [&](ContentElement e) {
    c.elements.push_back(std::move(e));
    return static_cast<int>(c.elements.size() - 1);
  };
  // clang-format off: one element a row, in the order of its fields
  add({"ImageMain",
       ElementKind::Image,
       -1,
       0,
       0,
       504,
       400,
       "",
       {},
       TextAlign::Left,
       0xFF000000u,
       {"about/background"},
       true});
  add({"BtnOK",
       ElementKind::ImageButton,
       -1,
       208,
       325,
       94,
       27,
       "OK",
       button,
       TextAlign::Center,
       0xFF000000u,
       {"about/ok-normal", "about/ok-hot", "about/ok-pressed"},
       true});
  const int box = add({"Rectangle1",
                       ElementKind::Container,
                       -1,
                       43,
                       81,
                       425,
                       223,
                       "",
                       {},
                       TextAlign::Left,
                       0,
                       {},
                       true});
  add({"Label1",
       ElementKind::Label,
       box,
       20,
       25,
       405,
       26,
       "Hardware & Software Information:",
       big,
       TextAlign::Left,
       0xFF000000u,
       {},
       true});
  add({"Label2",
       ElementKind::Label,
       box,
       25,
       51,
       400,
       30,
       "Hardware Core:1.00.00",
       normal,
       TextAlign::Left,
       0xFF000000u,
       {},
       true});
  add({"Label3",
       ElementKind::Label,
       box,
       25,
       81,
       400,
       30,
       "Software Core:1.00.00",
       normal,
       TextAlign::Left,
       0xFF000000u,
       {},
       true});
  add({"Label4",
       ElementKind::Label,
       box,
       20,
       111,
       405,
       26,
       "Software Update Website:",
       big,
       TextAlign::Left,
       0xFF000000u,
       {},
       true});
  add({"TextWeb",
       ElementKind::Label,
       box,
       18,
       142,
       301,
       26,
       kWebSiteAddress,
       normal,
       TextAlign::Left,
       0xFFFFFFFFu,
       {},
       true});
  add({"BtnGoWeb",
       ElementKind::ClickableImage,
       box,
       25,
       182,
       77,
       31,
       "",
       {},
       TextAlign::Left,
       0,
       {"about/go-web"},
       true});
  // clang-format on
  return c;
}

AboutView::AboutView(platform::Shell* shell, std::function<void(const std::string&)> onClick)
    : TranslationView("TvgScene", "vgScene1"), content_(AboutContent()) {
  RefreshTranslation();  // a table active already applies from the start
  if (shell) window_ = shell->CreateContentWindow(content_, std::move(onClick));
}

AboutView::~AboutView() = default;

void AboutView::RefreshTranslation() {
  for (auto& e : content_.elements)
    if (Translated(e)) e.text = TranslateText(e.text);
  if (window_) window_->SetContent(content_);
}

std::string AboutView::Text(const std::string& element) const {
  for (auto& e : content_.elements)
    if (e.name == element) return e.text;
  return {};
}

}  // namespace kv
