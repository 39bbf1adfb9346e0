// libFuzzer target: any bytes as config.ini. The reader and the program's readers of its options
// must give an answer for every file without crashing, hanging or growing without bound.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/ini_file.h"
#include "profile/options.h"

namespace {

// config.ini in a folder of its own, rewritten for every input.
class FuzzPaths : public kv::platform::Paths {
 public:
  FuzzPaths() {
    char dir[] = "/tmp/kvfuzz-ini.XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    dir_ = std::string(dir) + "/";
  }
  ~FuzzPaths() override {
    unlink(ConfigFile().c_str());
    rmdir(dir_.c_str());
  }
  std::string ExecutableDir() override { return dir_; }
  std::string DocumentsDir() override { return dir_; }
  std::string ConfigFile() override { return dir_ + "config.ini"; }

 private:
  std::string dir_;
};

// Section names as the file spells them between "[" and "]".
std::vector<std::string> SectionNames(std::string_view text) {
  std::vector<std::string> names;
  for (std::size_t at = 0; at < text.size() && names.size() < 16;) {
    const std::size_t open = text.find('[', at);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find_first_of("]\r\n", open + 1);
    if (close == std::string_view::npos) break;
    names.emplace_back(text.substr(open + 1, close - open - 1));
    at = close + 1;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzPaths paths;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const kv::IniFile ini = kv::IniFile::Parse(bytes);
  for (const std::string& section : SectionNames(bytes)) {
    (void)ini.HasSection(section);
    for (const std::string& key : ini.KeyNames(section)) (void)ini.ReadString(section, key, "d");
    (void)ini.ReadString(section, "", "\"quoted default\"");
  }

  // The program's own readers, through the file as they read it.
  if (FILE* f = std::fopen(paths.ConfigFile().c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  (void)kv::LoadOptionsFromConfigFile(paths);
  (void)kv::LoadOtherConfig(paths);
  (void)kv::LoadIncludeHIDDeviceList(paths);
  (void)kv::ConfigFileProblem(paths);
  return 0;
}
