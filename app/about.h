#pragma once
// The About window's content: a fixed layout of images, labels and buttons that each platform
// draws from the content model. The view registers with the translation state, so a language
// selection passes its texts through TranslateText and hands the new content to the window.
#include <functional>
#include <memory>
#include <string>

#include "lang/translation.h"
#include "platform/shell.h"

namespace kv {

inline constexpr const char* kWebSiteAddress = "https://www.kvmon.example/";

// The content as laid out, with its texts as they stand (untranslated).
platform::WindowContent AboutContent();

class AboutView : public lang::TranslationView {
 public:
  // `shell` may be null (no window is created then; the texts are still kept and translated).
  AboutView(platform::Shell* shell, std::function<void(const std::string&)> onClick);
  ~AboutView() override;

  void RefreshTranslation() override;
  const platform::WindowContent& Content() const { return content_; }
  std::string Text(const std::string& element) const;
  platform::ContentWindow* Window() const { return window_.get(); }

 private:
  platform::WindowContent content_;
  std::unique_ptr<platform::ContentWindow> window_;
};

}  // namespace kv
