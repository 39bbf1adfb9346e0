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
      // kvmon's own settings window and messages (Linux).
      "Gaming Mouse Settings",
      "Mouse",
      "Check again",
      "The mouse is connected.",
      "No mouse found.",
      "The mouse cannot be opened: no permission.",
      "The mouse cannot be opened.",
      "The system's HID devices cannot be listed.",
      "Plug the mouse in. If it is plugged in, check the device list in config.ini (kvhid list "
      "shows the IDs).",
      "Install kvmon's udev rule (kvhid udev-rule shows it), then unplug the mouse and plug it in "
      "again.",
      "Unplug the mouse and plug it in again.",
      "The profile store cannot be read:",
      "No single-instance guard:",
      "This profile is not stored anywhere.",
      "The profile could not be saved.",
      "Profiles",
      "On-board profile now active:",
      "not recorded yet",
      "Profile",
      "(current)",
      "Microphone button:",
      "None",
      "Button",
      "General",
      "Language:",
      "Notify when the microphone is muted or unmuted",
      "Start at login",
      "(not available)",
      "Close",
      "The change could not be made:",
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
           "Gaming Mouse Settings=游戏鼠标设置",
           "Mouse=鼠标",
           "Check again=重新检查",
           "The mouse is connected.=鼠标已连接。",
           "No mouse found.=未找到鼠标。",
           "The mouse cannot be opened: no permission.=无法打开鼠标：没有权限。",
           "The mouse cannot be opened.=无法打开鼠标。",
           "The system's HID devices cannot be listed.=无法列出系统的 HID 设备。",
           "Plug the mouse in. If it is plugged in, check the device list in config.ini (kvhid "
           "list shows the IDs).=请插入鼠标。如果已经插入，请检查 config.ini 中的设备列表（kvhid "
           "list 可显示设备 ID）。",
           "Install kvmon's udev rule (kvhid udev-rule shows it), then unplug the mouse and plug "
           "it in again.=请安装 kvmon 的 udev 规则（kvhid udev-rule "
           "可显示该规则），然后拔下鼠标并重新插入。",
           "Unplug the mouse and plug it in again.=请拔下鼠标并重新插入。",
           "The profile store cannot be read:=无法读取配置存储：",
           "No single-instance guard:=无法保证只运行一个实例：",
           "This profile is not stored anywhere.=此配置没有存储位置。",
           "The profile could not be saved.=无法保存此配置。",
           "Profiles=配置",
           "On-board profile now active:=当前板载配置：",
           "not recorded yet=尚未记录",
           "Profile=配置",
           "(current)=（当前）",
           "Microphone button:=麦克风按键：",
           "None=无",
           "Button=按键",
           "General=常规",
           "Language:=语言：",
           "Notify when the microphone is muted or unmuted=麦克风静音或取消静音时显示通知",
           "Start at login=登录时启动",
           "(not available)=（不可用）",
           "Close=关闭",
           "The change could not be made:=无法完成更改：",
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
