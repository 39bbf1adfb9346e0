#pragma once
// Driving a tray icon's popup menu as a user does, from a thread other than the one that owns
// the icon: a right click on the icon opens the menu (a "#32768" window) in that thread's modal
// menu loop, whose items are read back and chosen with the keyboard.
#include <windows.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32_shell.h"

namespace kvtest {

// The visible popup-menu window of `thread`, or nullptr.
inline HWND OpenPopupOf(DWORD thread) {
  struct Search {
    HWND found = nullptr;
  } search;
  EnumThreadWindows(
      thread,
      [](HWND hwnd, LPARAM param) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(hwnd, name, 16);
        if (std::wstring(name) != L"#32768" || !IsWindowVisible(hwnd)) return TRUE;
        reinterpret_cast<Search*>(param)->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Right-clicks the tray icon whose owner window is `owner` and waits for its menu to show.
inline HWND RightClickTray(HWND owner, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const DWORD thread = GetWindowThreadProcessId(owner, nullptr);
  PostMessageW(owner, kv::platform::win32::kTrayCallbackMessage, 1, WM_RBUTTONUP);
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (HWND popup = OpenPopupOf(thread)) return popup;
    if (std::chrono::steady_clock::now() > end) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The captions of the menu a popup window shows, in order, as the menu holds them.
inline std::vector<std::wstring> PopupCaptions(HWND popup) {
  std::vector<std::wstring> out;
  auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
  const int count = menu ? GetMenuItemCount(menu) : 0;
  for (int i = 0; i < count; ++i) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
    out.emplace_back(text);
  }
  return out;
}

// Key presses into the open menu (VK_DOWN, VK_RETURN, VK_ESCAPE, ...).
inline void PressKeys(HWND popup, std::initializer_list<WORD> keys) {
  for (WORD key : keys) {
    PostMessageW(popup, WM_KEYDOWN, key, 1);
    PostMessageW(popup, WM_KEYUP, key, 0xC0000001);
  }
}

// Waits until the popup window is gone (the menu loop ended).
inline bool WaitClosed(HWND popup, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (IsWindow(popup) && IsWindowVisible(popup)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace kvtest
