#pragma once
// The simulated platform: every service in memory (files in a per-instance temporary folder),
// deterministic, driven by the test.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_loop.h"
#include "platform/sim/sim_registry.h"

namespace kv::platform::sim {

class SimWindows : public MessageWindows {
 public:
  explicit SimWindows(EventLoop& loop) : loop_(loop) {}
  std::unique_ptr<MessageWindow> Create(std::string_view className, WindowProc proc) override;
  WindowHandle Find(std::string_view className) override;
  bool Post(WindowHandle window, const WindowMessage& message) override;
  std::optional<std::intptr_t> Send(WindowHandle window, const WindowMessage& message) override;

 private:
  class Window;
  struct Entry {
    std::string className;
    std::shared_ptr<WindowProc> proc;
  };
  std::shared_ptr<WindowProc> Proc(WindowHandle window);
  void Destroy(WindowHandle window);

  EventLoop& loop_;
  std::mutex mutex_;
  std::map<WindowHandle, Entry> windows_;
  WindowHandle next_ = 0x10010;
};

class SimSingleInstance : public SingleInstance {
 public:
  std::unique_ptr<InstanceGuard> Acquire(std::string_view name) override;
  // From now on no guard can be made: Acquire answers with a guard whose Problem() is `problem`
  // (a name held elsewhere still answers nullptr). An empty text makes guards work again.
  void SetUnavailable(std::string problem);

 private:
  class Guard;
  std::mutex mutex_;
  std::set<std::string> held_;
  std::string unavailable_;
};

class SimDebugOutput : public DebugOutput {
 public:
  void Write(std::string_view text) override;
  std::vector<std::string> Lines() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Records every box instead of showing it.
class SimMessageBoxes : public MessageBoxes {
 public:
  struct Box {
    std::string text, caption;
  };
  void ShowError(std::string_view text, std::string_view caption) override {
    std::lock_guard lock(mutex_);
    shown_.push_back({std::string(text), std::string(caption)});
  }
  std::vector<Box> Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Box> shown_;
};

// Files of one sim world live below a fresh temporary folder: exe/ holds the "executable" (and
// its config.ini), Documents/ is the user's documents folder. Removed with the platform.
class SimPaths : public Paths {
 public:
  SimPaths();
  ~SimPaths() override;
  std::string ExecutableDir() override { return exeDir_; }
  std::string DocumentsDir() override { return documentsDir_; }
  std::string Root() const { return root_; }
  // Test control: "" makes the documents folder unavailable.
  void SetDocumentsDir(std::string dir) { documentsDir_ = std::move(dir); }

 private:
  std::string root_, exeDir_, documentsDir_;
};

// One simulated machine: the core services wired together. Optional services (HID, audio, ...)
// are attached by the tests that need them through the Platform struct's pointers.
class SimPlatform {
 public:
  SimPlatform();
  Platform& platform() { return platform_; }

  SimRegistry registry;
  SimPaths paths;
  SimClock clock;
  SimEventLoop loop{clock};
  SimWindows windows{loop};
  SimSingleInstance instance;
  SimDebugOutput debug;
  SimMessageBoxes messageBoxes;

 private:
  Platform platform_;
};

}  // namespace kv::platform::sim
