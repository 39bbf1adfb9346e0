// libgxHook.so: the hook library for Linux desktops. It reads the keyboards and mice under
// /dev/input that the user may read, turns their events into low-level records and calls the
// registered callback on the thread that enabled it, through that thread's GLib main context
// (the one Qt's event loop runs on Linux desktops). Where it can grab a device and pass events on
// through /dev/uinput it honours Blocked; elsewhere it only observes, and says so once.
//
// GXHOOK_DEVICES, when set, replaces the scan of /dev/input: a colon-separated list of
// "path=keyboard", "path=mouse" or "path=both" entries.
#include <dirent.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "hook/hook_library.h"
#include "hooklib/linux/evdev_translate.h"

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

namespace kv::hooklib {
namespace {

constexpr const char* kLogDomain = "gxHook";
constexpr const char* kVirtualPrefix = "gxHook pass-through ";

struct Slot {
  hooklib::HookCallback callback = nullptr;
  void* context = nullptr;
};

bool TestBit(const std::vector<unsigned long>& bits, unsigned bit) {
  constexpr unsigned kBits = sizeof(unsigned long) * 8;
  return bit / kBits < bits.size() && (bits[bit / kBits] >> (bit % kBits)) & 1ul;
}

std::vector<unsigned long> Bits(int fd, unsigned type, unsigned max) {
  std::vector<unsigned long> bits(max / (sizeof(unsigned long) * 8) + 1, 0);
  if (ioctl(fd, EVIOCGBIT(type, bits.size() * sizeof(unsigned long)), bits.data()) < 0)
    bits.clear();
  return bits;
}

struct Device {
  explicit Device(PointerPosition& pointer) : translator(pointer) {}
  ~Device() {
    if (source) {
      g_source_destroy(source);
      g_source_unref(source);
    }
    if (grabbed) ioctl(fd, EVIOCGRAB, 0);
    if (uinput >= 0) {
      ioctl(uinput, UI_DEV_DESTROY);
      close(uinput);
    }
    if (fd >= 0) close(fd);
  }
  std::string path;
  int fd = -1;
  bool keyboard = false, mouse = false;
  bool grabbed = false;
  bool takeOverPending = false;  // waiting for the keys held at the time to be released
  int uinput = -1;
  GSource* source = nullptr;
  EvdevTranslator translator;
};

struct Library {
  Slot keyboard, mouse;
  GMainContext* context = nullptr;
  PointerPosition pointer;
  std::vector<std::unique_ptr<Device>> devices;
  // Devices closed while one of their events was being delivered: freed once it returns.
  std::vector<std::unique_ptr<Device>> retired;
  int delivering = 0;
  // Devices that no enabled hook needs, not looked at again until the hooks change.
  std::vector<std::string> ignored;
  bool toldObserving = false;
  bool loopSeenRunning = false;
  GSource* rescan = nullptr;
};

Library& L() {
  static Library library;
  return library;
}

void Say(const std::string& text) { g_log(kLogDomain, G_LOG_LEVEL_DEBUG, "%s", text.c_str()); }

void ObserveOnlyOnce(const std::string& why) {
  if (L().toldObserving) return;
  L().toldObserving = true;
  Say("input is observed only, blocked events still reach the desktop: " + why);
}

struct Candidate {
  std::string path;
  bool keyboard, mouse;
  bool classify;  // ask the device what it is
};

std::vector<Candidate> Candidates() {
  std::vector<Candidate> out;
  if (const char* list = std::getenv("GXHOOK_DEVICES")) {
    gchar** parts = g_strsplit(list, ":", -1);
    for (gchar** p = parts; *p; ++p) {
      std::string entry = *p;
      const auto eq = entry.find('=');
      if (entry.empty()) continue;
      const std::string kind = eq == std::string::npos ? "" : entry.substr(eq + 1);
      const std::string path = entry.substr(0, eq);
      if (kind.empty()) out.push_back({path, false, false, true});
      else out.push_back({path, kind != "mouse", kind != "keyboard", false});
    }
    g_strfreev(parts);
    return out;
  }
  if (DIR* dir = opendir("/dev/input")) {
    while (const dirent* e = readdir(dir))
      if (std::strncmp(e->d_name, "event", 5) == 0)
        out.push_back({std::string("/dev/input/") + e->d_name, false, false, true});
    closedir(dir);
  }
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.path < b.path; });
  return out;
}

// Makes a uinput device able to send everything the device sends, grabs the device, and so
// takes over passing its events on. False (and nothing changed) where that is not possible.
bool TakeOverNow(Device& d, const std::vector<unsigned long>& types) {
  const int u = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (u < 0) return false;
  bool ok = true;
  for (unsigned type : {EV_KEY, EV_REL, EV_MSC}) {
    if (!TestBit(types, type)) continue;
    ok = ok && ioctl(u, UI_SET_EVBIT, type) == 0;
    const unsigned max = type == EV_KEY ? KEY_MAX : type == EV_REL ? REL_MAX : MSC_MAX;
    const unsigned long request = type == EV_KEY   ? UI_SET_KEYBIT
                                  : type == EV_REL ? UI_SET_RELBIT
                                                   : UI_SET_MSCBIT;
    const auto codes = Bits(d.fd, type, max);
    for (unsigned c = 0; c <= max; ++c)
      if (TestBit(codes, c)) ok = ok && ioctl(u, request, c) == 0;
  }
  uinput_setup setup{};
  char name[UINPUT_MAX_NAME_SIZE] = {};
  ioctl(d.fd, EVIOCGNAME(sizeof name - 1), name);
  const std::string full = std::string(kVirtualPrefix) + name;  // cut to fit: names are for people
  std::memcpy(setup.name, full.data(), std::min(full.size(), sizeof setup.name - 1));
  setup.id.bustype = BUS_VIRTUAL;
  ok = ok && ioctl(u, UI_DEV_SETUP, &setup) == 0 && ioctl(u, UI_DEV_CREATE) == 0;
  if (ok && ioctl(d.fd, EVIOCGRAB, 1) == 0) {
    d.uinput = u;
    d.grabbed = true;
    return true;
  }
  if (ok) ioctl(u, UI_DEV_DESTROY);
  close(u);
  return false;
}

// A key held while the device is grabbed would be released on the pass-through device, which
// never saw it pressed, and stay down for the desktop: the grab waits until nothing is held.
bool AnyKeyHeld(int fd) {
  std::vector<unsigned long> held(KEY_MAX / (sizeof(unsigned long) * 8) + 1, 0);
  if (ioctl(fd, EVIOCGKEY(held.size() * sizeof(unsigned long)), held.data()) < 0) return false;
  return std::any_of(held.begin(), held.end(), [](unsigned long w) { return w != 0; });
}

// Tries to take the device over, now or (while keys are held) after a later report.
void TryTakeOver(Device& d) {
  d.takeOverPending = false;
  const auto types = Bits(d.fd, 0, EV_MAX);
  // Absolute axes would need their ranges copied as well; such devices are only observed.
  if (!types.empty() && !TestBit(types, EV_ABS)) {
    if (AnyKeyHeld(d.fd)) {
      d.takeOverPending = true;
      return;
    }
    if (TakeOverNow(d, types)) return;
  }
  ObserveOnlyOnce(d.path + " cannot be grabbed and passed on through /dev/uinput");
}

gboolean OnReadable(gint fd, GIOCondition condition, gpointer data);

void Deliver(Device& d, std::vector<TranslatedEvent>& records) {
  Library& l = L();
  std::vector<bool> dropped(d.translator.Frame().size(), false);
  ++l.delivering;
  for (auto& r : records) {
    const Slot slot = r.keyboard ? l.keyboard : l.mouse;
    if (!slot.callback) continue;
    bool blocked = false;
    slot.callback(slot.context, 0, r.message,
                  r.keyboard ? reinterpret_cast<std::intptr_t>(&r.key)
                             : reinterpret_cast<std::intptr_t>(&r.mouse),
                  &blocked);
    if (blocked && r.message != hooklib::kMouseMove)
      for (std::size_t i : r.sources) dropped[i] = true;
  }
  --l.delivering;
  if (!d.grabbed || d.uinput < 0) return;
  std::vector<input_event> pass;
  const auto& frame = d.translator.Frame();
  for (std::size_t i = 0; i < frame.size(); ++i)
    if (!dropped[i]) pass.push_back(frame[i]);
  if (pass.size() <= 1) return;  // only the report marker is left
  const auto bytes = static_cast<ssize_t>(pass.size() * sizeof(input_event));
  if (write(d.uinput, pass.data(), static_cast<size_t>(bytes)) != bytes)
    Say("passing events on failed: " + std::string(std::strerror(errno)));
}

void Refresh();

bool IsOpen(const Device* d) {
  const auto& all = L().devices;
  return std::any_of(all.begin(), all.end(), [d](auto& p) { return p.get() == d; });
}

// Moves a device out of service. Its object lives on until no event is being delivered, since
// a callback may close the very device whose event it handles.
void Retire(std::vector<std::unique_ptr<Device>>::iterator it) {
  Library& l = L();
  l.retired.push_back(std::move(*it));
  l.devices.erase(it);
}

void FreeRetired() {
  if (L().delivering == 0) L().retired.clear();
}

gboolean OnReadable(gint, GIOCondition, gpointer data) {
  Library& l = L();
  auto* d = static_cast<Device*>(data);
  if (!IsOpen(d)) return G_SOURCE_REMOVE;
  input_event events[64];
  std::vector<TranslatedEvent> records;
  for (;;) {
    const ssize_t n = read(d->fd, events, sizeof events);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {
      // The device is gone (or its stream ended): stop watching it.
      Retire(
          std::find_if(l.devices.begin(), l.devices.end(), [d](auto& p) { return p.get() == d; }));
      FreeRetired();
      return G_SOURCE_REMOVE;
    }
    const auto count = static_cast<std::size_t>(n) / sizeof(input_event);
    for (std::size_t i = 0; i < count; ++i) {
      if (d->translator.Feed(events[i], records)) Deliver(*d, records);
      if (!IsOpen(d)) {  // a callback disabled the hook that needed this device
        FreeRetired();
        return G_SOURCE_REMOVE;
      }
    }
  }
  if (d->takeOverPending) TryTakeOver(*d);
  FreeRetired();
  return G_SOURCE_CONTINUE;
}

void Open(const Candidate& c) {
  Library& l = L();
  const int fd = open(c.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  auto d = std::make_unique<Device>(l.pointer);
  d->path = c.path;
  d->fd = fd;
  d->keyboard = c.keyboard;
  d->mouse = c.mouse;
  if (c.classify) {
    char name[256] = {};
    ioctl(fd, EVIOCGNAME(sizeof name - 1), name);
    if (std::strncmp(name, kVirtualPrefix, std::strlen(kVirtualPrefix)) == 0) {  // our own
      l.ignored.push_back(c.path);
      return;
    }
    const auto keys = Bits(fd, EV_KEY, KEY_MAX);
    const auto rel = Bits(fd, EV_REL, REL_MAX);
    d->keyboard = TestBit(keys, KEY_A) && TestBit(keys, KEY_SPACE);
    d->mouse = TestBit(rel, REL_X) && TestBit(keys, BTN_LEFT);
  }
  const bool wanted = (d->keyboard && l.keyboard.callback) || (d->mouse && l.mouse.callback);
  if (!wanted) {
    l.ignored.push_back(c.path);
    return;
  }
  int monotonic = CLOCK_MONOTONIC;
  ioctl(fd, EVIOCSCLOCKID, &monotonic);
  unsigned long leds[1] = {0};
  if (d->keyboard && ioctl(fd, EVIOCGLED(sizeof leds), leds) >= 0)
    d->translator.SetNumLock((leds[0] >> LED_NUML) & 1ul);
  // Take devices over only once the enabling thread's loop has shown that it runs: a grabbed
  // device whose events nobody reads would freeze the desktop's input.
  if (l.loopSeenRunning) TryTakeOver(*d);
  d->source = g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_set_callback(d->source, G_SOURCE_FUNC(OnReadable), d.get(), nullptr);
  g_source_attach(d->source, l.context);
  l.devices.push_back(std::move(d));
}

gboolean OnRescan(gpointer) {
  Library& l = L();
  if (!l.loopSeenRunning) {
    // The enabling thread's loop runs: devices opened before can now be taken over.
    l.loopSeenRunning = true;
    while (!l.devices.empty()) Retire(l.devices.begin());
    FreeRetired();
    g_source_unref(l.rescan);
    l.rescan = nullptr;  // this first, immediate one ends here; Refresh sets the periodic one
    Refresh();
    return G_SOURCE_REMOVE;
  }
  Refresh();
  return G_SOURCE_CONTINUE;
}

// Opens the devices the enabled hooks need and closes the others. Runs on the enabling thread.
void Refresh() {
  Library& l = L();
  const bool any = l.keyboard.callback || l.mouse.callback;
  for (auto it = l.devices.begin(); it != l.devices.end();) {
    Device& d = **it;
    const bool wanted = (d.keyboard && l.keyboard.callback) || (d.mouse && l.mouse.callback);
    if (wanted) {
      ++it;
      continue;
    }
    const auto index = it - l.devices.begin();
    Retire(it);
    it = l.devices.begin() + index;
  }
  FreeRetired();
  if (!any) {
    if (l.rescan) {
      g_source_destroy(l.rescan);
      g_source_unref(l.rescan);
      l.rescan = nullptr;
    }
    if (l.context) g_main_context_unref(l.context);
    l.context = nullptr;
    l.loopSeenRunning = false;
    l.ignored.clear();
    return;
  }
  for (const Candidate& c : Candidates()) {
    const bool open =
        std::any_of(l.devices.begin(), l.devices.end(), [&](auto& d) { return d->path == c.path; });
    const bool ignored = std::find(l.ignored.begin(), l.ignored.end(), c.path) != l.ignored.end();
    if (!open && !ignored) Open(c);
  }
  if (!l.rescan) {
    // Also the proof that the loop runs; afterwards it picks up devices plugged in later.
    l.rescan = g_timeout_source_new(l.loopSeenRunning ? 2000 : 0);
    g_source_set_callback(l.rescan, OnRescan, nullptr, nullptr);
    g_source_attach(l.rescan, l.context);
  }
}

void Enable(Slot& slot, hooklib::HookCallback callback, void* context) {
  Library& l = L();
  GMainContext* here = g_main_context_ref_thread_default();
  if (l.context && l.context != here) {
    // A hook enabled from another thread moves every device to that thread's loop.
    Slot keep[2] = {l.keyboard, l.mouse};
    l.keyboard = l.mouse = Slot{};
    Refresh();
    l.keyboard = keep[0];
    l.mouse = keep[1];
  }
  if (!l.context) l.context = here;
  else g_main_context_unref(here);
  slot = {callback, context};
  l.ignored.clear();
  Refresh();
}

void Disable(Slot& slot) {
  slot = Slot{};
  Refresh();
}

}  // namespace
}  // namespace kv::hooklib

using namespace kv::hooklib;

KV_EXPORT void EnableKeyboardHook(kv::hooklib::HookCallback callback, void* context, std::int32_t) {
  Enable(L().keyboard, callback, context);
}

KV_EXPORT void DisableKeyboardHook() { Disable(L().keyboard); }

KV_EXPORT void EnableMouseHook(kv::hooklib::HookCallback callback, void* context, std::int32_t) {
  Enable(L().mouse, callback, context);
}

KV_EXPORT void DisableMouseHook() { Disable(L().mouse); }
