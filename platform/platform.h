#pragma once
// The platform boundary: the services the components call, in the system's own terms.
// Components receive the services they need by reference at construction and never include a
// platform header. Each implementation lives in platform/<name>/.
//
// Threads: every service is used from the main thread unless its comment says otherwise.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// ---------------------------------------------------------------------------------------------
// Registry: keys below a root, with binary and 32-bit values. Key paths use "\" between levels
// and compare without regard to case, as on Windows. The Linux store keeps the same model in
// SQLite; the sim keeps it in memory.

// The numeric values are Windows' own, so that a root travels as the number the configurator
// and the records know (0 is "no root").
enum class RootKey : std::uint32_t {
  None = 0,
  CurrentUser = 0x80000001u,
  LocalMachine = 0x80000002u,
};

enum class ValueKind {
  Binary,  // REG_BINARY
  Dword,   // REG_DWORD, 4 bytes little-endian
  Other,   // any other type: reported as such, never converted
};

struct RegistryValue {
  ValueKind kind = ValueKind::Binary;
  std::uint32_t rawType = 3;  // the stored type number (REG_BINARY 3, REG_DWORD 4, ...)
  std::vector<std::uint8_t> data;
};

// A registry operation that failed for a reason other than "not there": the store could not be
// read or written. Carries a message meant for a person.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // nullopt when the key has no value of that name. Throws RegistryError on a storage failure.
  virtual std::optional<RegistryValue> QueryValue(std::string_view name) = 0;
  // Replace (or create) a value. Throws RegistryError when the value cannot be written.
  virtual void SetBinary(std::string_view name, std::span<const std::uint8_t> data) = 0;
  virtual void SetDword(std::string_view name, std::uint32_t value) = 0;
  // False when there was no such value.
  virtual bool DeleteValue(std::string_view name) = 0;
  // Value names in creation order (Windows' registry: in its own enumeration order).
  virtual std::vector<std::string> ValueNames() = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the key for reading and writing, creating it and its missing parents. nullptr when
  // that is not possible (unusable root, no right to write there, or the store refuses). Throws
  // RegistryError when the store is broken.
  virtual std::unique_ptr<RegistryKey> CreateKey(RootKey root, std::string_view path) = 0;
  // Opens an existing key; nullptr when it does not exist.
  virtual std::unique_ptr<RegistryKey> OpenKey(RootKey root, std::string_view path) = 0;
};

// ---------------------------------------------------------------------------------------------
// Paths of the running program and its user.
class Paths {
 public:
  virtual ~Paths() = default;
  // Folder of the running executable, with its trailing separator.
  virtual std::string ExecutableDir() = 0;
  // The user's personal documents folder (no trailing separator). Empty when it cannot be had.
  virtual std::string DocumentsDir() = 0;
  // Where "config.ini" is read from: by default ExecutableDir() + "config.ini".
  virtual std::string ConfigFile() { return ExecutableDir() + "config.ini"; }
  // The text of a file that starts with no byte-order mark (config.ini), as UTF-8. Windows
  // reads such a file in its ANSI code page; elsewhere it is taken as UTF-8. Never throws.
  virtual std::string DecodeUnmarkedText(std::string_view bytes) { return std::string(bytes); }
};

// ---------------------------------------------------------------------------------------------
// Clock: a millisecond tick counter that wraps after 2^32 ms, and the local calendar time.
struct LocalTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Any thread.
  virtual std::uint32_t TickCount() = 0;
  virtual LocalTime Now() = 0;
};

// ---------------------------------------------------------------------------------------------
// Event loop of the main thread.
using Task = std::function<void()>;
using TimerId = std::uint64_t;  // 0 is never a valid timer

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Any thread: queue a task to run on the main thread. Tasks run in the order posted.
  virtual void Post(Task task) = 0;
  // Any thread other than the main one: run the task on the main thread and wait until it has
  // run. Returns false, without running it, once the loop has quit. On the main thread the task
  // runs at once.
  virtual bool RunAndWait(Task task) = 0;
  // A timer that fires on the main thread after `interval` and, when `repeat`, every interval
  // after that until stopped.
  virtual TimerId StartTimer(std::chrono::milliseconds interval, bool repeat, Task onTimer) = 0;
  // Stopping an unknown or already stopped timer does nothing.
  virtual void StopTimer(TimerId id) = 0;
  // Runs the loop on the calling (main) thread until Quit; returns Quit's exit code.
  virtual int Run() = 0;
  // Any thread: ends Run after the current task.
  virtual void Quit(int exitCode = 0) = 0;
  virtual bool IsMainThread() const = 0;
};

// ---------------------------------------------------------------------------------------------
// Message windows: hidden windows found by class name, through which the monitor and the
// configurator exchange their private messages. Handles are opaque and 0 means "none".
using WindowHandle = std::uint64_t;

struct WindowMessage {
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// Called on the main thread for each message that reaches the window; the result is what a
// sender receives.
using WindowProc = std::function<std::intptr_t(const WindowMessage&)>;

class MessageWindow {
 public:
  virtual ~MessageWindow() = default;  // destroys the window
  virtual WindowHandle Handle() const = 0;
};

class MessageWindows {
 public:
  virtual ~MessageWindows() = default;
  // nullptr when the window cannot be created.
  virtual std::unique_ptr<MessageWindow> Create(std::string_view className, WindowProc proc) = 0;
  // 0 when no window of that class exists.
  virtual WindowHandle Find(std::string_view className) = 0;
  // Queues the message; false when the window does not exist (any more).
  virtual bool Post(WindowHandle window, const WindowMessage& message) = 0;
  // Delivers the message and waits for the window's answer; nullopt when it could not be
  // delivered.
  virtual std::optional<std::intptr_t> Send(WindowHandle window, const WindowMessage& message) = 0;
};

// ---------------------------------------------------------------------------------------------
// Single-instance guard: at most one holder of a name per user session.
class InstanceGuard {
 public:
  virtual ~InstanceGuard() = default;  // releases the name
  // Empty when the guard holds the name. Otherwise the guard could not be made (the name's lock
  // or mutex could not be created) and this says why: the process runs without a guard.
  virtual std::string Problem() const { return ""; }
};

class SingleInstance {
 public:
  virtual ~SingleInstance() = default;
  // nullptr only when another process (or another guard) already holds the name. A guard that
  // cannot be made at all comes back with its Problem() set, so that start-up goes on unguarded.
  virtual std::unique_ptr<InstanceGuard> Acquire(std::string_view name) = 0;
};

// ---------------------------------------------------------------------------------------------
// Debug output: traces for a debugger; never a log file. Any thread.
class DebugOutput {
 public:
  virtual ~DebugOutput() = default;
  virtual void Write(std::string_view text) = 0;
};

// ---------------------------------------------------------------------------------------------
// Message boxes: a modal message to the user, shown on the main thread. Returns when dismissed.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void ShowError(std::string_view text, std::string_view caption) = 0;
};

// ---------------------------------------------------------------------------------------------
// Services declared in their own headers and filled by the components that need them.
class Hid;                  // platform/hid.h
class DeviceNotifications;  // platform/hid.h
class Audio;                // platform/audio.h
class Shell;                // platform/shell.h
class DynamicLibraries;     // platform/dynlib.h
class Locale;               // platform/locale.h
class Keyboard;             // platform/keyboard.h

// Everything one platform offers. The core services always exist; the others are null where a
// platform (or a test) does not provide them.
struct Platform {
  Registry& registry;
  Paths& paths;
  Clock& clock;
  EventLoop& loop;
  MessageWindows& windows;
  SingleInstance& instance;
  DebugOutput& debug;
  MessageBoxes* messageBoxes = nullptr;
  Hid* hid = nullptr;
  DeviceNotifications* devices = nullptr;
  Audio* audio = nullptr;
  Shell* shell = nullptr;
  DynamicLibraries* libraries = nullptr;
  Locale* locale = nullptr;
  Keyboard* keyboard = nullptr;

  // The same services with other message windows (a wrapper that adds behaviour to some
  // windows). Every member is listed, so a new one left out here draws a warning.
  Platform WithWindows(MessageWindows& other) const {
    return Platform{registry, paths,   clock, loop,  other,     instance, debug,   messageBoxes,
                    hid,      devices, audio, shell, libraries, locale,   keyboard};
  }
};

}  // namespace kv::platform
