#include "app/embedded_languages.h"

#include "lang/language_resource.h"

namespace kv {

std::vector<std::uint8_t> MonitorLanguageResource() {
  lang::LanguageResource res;
  res.original = {
      "GAMING MOUSE MONITOR",
      "GAMING MOUSE DRIVER",
      "Config",
      "About",
      "Exit",
      "OK",
      "Hardware & Software Information:",
      "Hardware Core:1.00.00",
      "Software Core:1.00.00",
      "Software Update Website:",
      "Microphone muted",
      "Microphone on",
      "No microphone",
  };
  res.languages = {
      {"CH",
       {
           "Config=打开配置",
           "About=关于软件",
           "Exit=退出软件",
           "OK=确定",
           "Hardware & Software Information:=硬件与软件信息：",
           "Hardware Core:1.00.00=硬件版本：1.00.00",
           "Software Core:1.00.00=软件版本：1.00.00",
           "Software Update Website:=软件更新网站：",
           "Microphone muted=麦克风已静音",
           "Microphone on=麦克风已开启",
           "No microphone=未找到麦克风",
       }},
      {"US",
       {
           "OK=OK",
           "Hardware & Software Information:=Hardware & Software Information:",
           "Hardware Core:1.00.00=Hardware Core:1.00.00",
           "Software Core:1.00.00=Software Core:1.00.00",
           "Software Update Website:=Software Update Website:",
           "Microphone muted=Microphone muted",
           "Microphone on=Microphone on",
           "No microphone=No microphone",
       }},
  };
  return lang::WriteLanguageResource(res);
}

}  // namespace kv
