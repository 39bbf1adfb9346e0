// libFuzzer target: any bytes as the language file "gx.local" and as a form's stored language
// resource. Reading either must fail cleanly or give languages that the component can select and
// translate with; what is read back from a written resource must be what was written.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "base/component.h"
#include "lang/gx_language.h"
#include "lang/language_resource.h"
#include "lang/translation.h"
#include "platform/sim/sim_platform.h"

namespace {

void RoundTrip(std::span<const std::uint8_t> bytes) {
  kv::lang::LanguageResource first;
  try {
    first = kv::lang::ReadLanguageResource(bytes);
  } catch (const kv::lang::LanguageFormatError&) {
    return;
  }
  // Texts that were not valid UTF-16 came back as U+FFFD, so the first reading is the fixed
  // point: writing it and reading that again must change nothing.
  const auto written = kv::lang::WriteLanguageResource(first);
  const auto second = kv::lang::ReadLanguageResource(written);
  if (second.original != first.original || second.languages != first.languages) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kv::platform::sim::SimPaths paths;
  static kv::platform::sim::SimDebugOutput debug;
  if (size < 2) return 0;
  // The first two bytes say how much of the rest is gx.local; the remainder is the form's.
  const std::size_t split = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
  const std::span<const std::uint8_t> file(data + 2, split);
  const std::span<const std::uint8_t> form(data + 2 + split, size - 2 - split);
  RoundTrip(file);
  RoundTrip(form);

  const std::string gxLocal = paths.ExecutableDir() + "gx.local";
  if (FILE* f = std::fopen(gxLocal.c_str(), "wb")) {
    if (!file.empty()) std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  debug.Clear();
  {
    kv::Component owner("TFuzzForm", "FuzzForm", kv::Component::Role::Form);
    kv::Component& caption = owner.Own(std::make_unique<kv::PropertyComponent>(
        "TLabel", "Label1", std::vector<std::string>{"Caption", "Hint"}));
    auto& language = kv::lang::TgxLanguage::Create(owner, "gxLanguage1", {nullptr, &paths, &debug});
    try {
      language.LoadFromForm(form);
    } catch (const kv::lang::LanguageFormatError&) {
    }
    language.Loaded();
    const int count = static_cast<int>(language.LanguageCount());
    for (int i = -1; i <= count && i < 8; ++i) {
      language.SetLang(language.GetLanguageShortIDByIndex(i));
      std::size_t n = 0;
      for (const std::string& line : language.Original().Lines()) {
        if (++n > 32) break;
        caption.SetStringProperty("Caption", line);
        (void)kv::TranslateText(line);
      }
      if (const auto* t = language.Translations(language.GetLanguageShortIDByIndex(i))) {
        n = 0;
        for (const std::string& line : t->Lines()) {
          if (++n > 32) break;
          (void)kv::TranslateText(line.substr(0, line.find('=')));
        }
      }
    }
    language.SetLang("en");  // the process-wide table must not carry over to the next input
  }
  std::remove(gxLocal.c_str());
  return 0;
}
