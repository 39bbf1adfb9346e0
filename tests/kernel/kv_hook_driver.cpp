// Loads the Linux hook library as the monitor does and runs a GLib loop. Every event reaches the
// callback and is printed; the B key and the left button are blocked. Commands on stdin:
// "disable" (both hooks), "quit".   kv_hook_driver LIBRARY
#include <dlfcn.h>
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "hook/hook_library.h"

namespace hl = kv::hooklib;

namespace {

void OnEvent(void*, std::int32_t, std::uintptr_t msg, std::intptr_t record, bool* blocked) {
  if (msg >= hl::kKeyDown && msg <= hl::kSysKeyUp) {
    const auto* k = reinterpret_cast<const hl::KeyboardRecord*>(record);
    *blocked = k->vkCode == 'B';
    std::printf("key %#lx vk %#x%s\n", static_cast<unsigned long>(msg), k->vkCode,
                *blocked ? " blocked" : "");
  } else {
    *blocked = msg == hl::kLButtonDown || msg == hl::kLButtonUp;
    std::printf("mouse %#lx%s\n", static_cast<unsigned long>(msg), *blocked ? " blocked" : "");
  }
  std::fflush(stdout);
}

struct Hooks {
  hl::EnableHookFn enableKeyboard, enableMouse;
  hl::DisableHookFn disableKeyboard, disableMouse;
  GMainLoop* loop;
};

gboolean OnStdin(gint fd, GIOCondition, gpointer data) {
  auto* h = static_cast<Hooks*>(data);
  char buf[128];
  const ssize_t n = read(fd, buf, sizeof buf - 1);
  if (n <= 0 || std::strncmp(buf, "quit", 4) == 0) {
    g_main_loop_quit(h->loop);
    return G_SOURCE_REMOVE;
  }
  if (std::strncmp(buf, "disable", 7) == 0) {
    h->disableKeyboard();
    h->disableMouse();
    std::printf("disabled\n");
    std::fflush(stdout);
  }
  return G_SOURCE_CONTINUE;
}

gboolean OnIdle(gpointer) {
  std::printf("running\n");
  std::fflush(stdout);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kv_hook_driver LIBRARY\n");
    return 2;
  }
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "kv_hook_driver: %s\n", dlerror());
    return 1;
  }
  Hooks h{reinterpret_cast<hl::EnableHookFn>(dlsym(lib, hl::kEnableKeyboardHook)),
          reinterpret_cast<hl::EnableHookFn>(dlsym(lib, hl::kEnableMouseHook)),
          reinterpret_cast<hl::DisableHookFn>(dlsym(lib, hl::kDisableKeyboardHook)),
          reinterpret_cast<hl::DisableHookFn>(dlsym(lib, hl::kDisableMouseHook)),
          g_main_loop_new(nullptr, FALSE)};
  if (!h.enableKeyboard || !h.enableMouse || !h.disableKeyboard || !h.disableMouse) {
    std::fprintf(stderr, "kv_hook_driver: the library lacks an entry point\n");
    return 1;
  }
  h.enableKeyboard(OnEvent, nullptr, 0);
  h.enableMouse(OnEvent, nullptr, 0);
  g_unix_fd_add(0, G_IO_IN, OnStdin, &h);
  g_timeout_add(300, OnIdle, nullptr);  // after the library's own first pass over the devices
  g_main_loop_run(h.loop);
  h.disableKeyboard();
  h.disableMouse();
  return 0;
}
