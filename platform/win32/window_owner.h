#pragma once
// Windows that belong to an object: CreateWindowExW's last argument carries the object, and the
// window keeps it in its user data from WM_NCCREATE on. The owner clears the user data before it
// destroys the window, so messages that come after that find no object.
#include <windows.h>

namespace kv::platform::win32 {

// For a window procedure: the object the window belongs to, or nullptr (before WM_NCCREATE,
// after the owner let go, or for a window created without one).
template <typename T>
T* WindowOwner(HWND hwnd, UINT msg, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace kv::platform::win32
