#include "platform/sim/sim_platform.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "base/path.h"
#include "base/strings.h"

namespace kv::platform::sim {

// --- windows ---------------------------------------------------------------------------------

class SimWindows::Window : public MessageWindow {
 public:
  Window(SimWindows& owner, WindowHandle handle) : owner_(owner), handle_(handle) {}
  ~Window() override { owner_.Destroy(handle_); }
  WindowHandle Handle() const override { return handle_; }

 private:
  SimWindows& owner_;
  WindowHandle handle_;
};

std::unique_ptr<MessageWindow> SimWindows::Create(std::string_view className, WindowProc proc) {
  if (className.empty() || !proc) return nullptr;
  std::lock_guard lock(mutex_);
  const WindowHandle handle = next_;
  next_ += 0x10;
  windows_[handle] = Entry{std::string(className), std::make_shared<WindowProc>(std::move(proc))};
  return std::make_unique<Window>(*this, handle);
}

WindowHandle SimWindows::Find(std::string_view className) {
  std::lock_guard lock(mutex_);
  for (auto& [handle, entry] : windows_)
    if (EqualsIgnoreCase(entry.className, className)) return handle;
  return 0;
}

std::shared_ptr<WindowProc> SimWindows::Proc(WindowHandle window) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.proc;
}

void SimWindows::Destroy(WindowHandle window) {
  std::lock_guard lock(mutex_);
  windows_.erase(window);
}

bool SimWindows::Post(WindowHandle window, const WindowMessage& message) {
  if (!Proc(window)) return false;
  loop_.Post([this, window, message] {
    // A window destroyed before its queued message is handled never sees it.
    if (auto proc = Proc(window)) (*proc)(message);
  });
  return true;
}

std::optional<std::intptr_t> SimWindows::Send(WindowHandle window, const WindowMessage& message) {
  auto proc = Proc(window);
  if (!proc) return std::nullopt;
  std::intptr_t result = 0;
  if (!loop_.RunAndWait([&] { result = (*proc)(message); })) return std::nullopt;
  return result;
}

// --- single instance ---------------------------------------------------------------------------

class SimSingleInstance::Guard : public InstanceGuard {
 public:
  // An empty name holds nothing: the guard could not be made, and `problem` says why.
  Guard(SimSingleInstance& owner, std::string name, std::string problem = "")
      : owner_(owner), name_(std::move(name)), problem_(std::move(problem)) {}
  ~Guard() override {
    if (name_.empty()) return;
    std::lock_guard lock(owner_.mutex_);
    owner_.held_.erase(name_);
  }
  std::string Problem() const override { return problem_; }

 private:
  SimSingleInstance& owner_;
  std::string name_, problem_;
};

std::unique_ptr<InstanceGuard> SimSingleInstance::Acquire(std::string_view name) {
  std::lock_guard lock(mutex_);
  if (held_.contains(std::string(name))) return nullptr;
  if (!unavailable_.empty()) return std::make_unique<Guard>(*this, "", unavailable_);
  held_.insert(std::string(name));
  return std::make_unique<Guard>(*this, std::string(name));
}

void SimSingleInstance::SetUnavailable(std::string problem) {
  std::lock_guard lock(mutex_);
  unavailable_ = std::move(problem);
}

// --- debug output ------------------------------------------------------------------------------

void SimDebugOutput::Write(std::string_view text) {
  if (std::getenv("KV_SIM_DEBUG"))
    std::fprintf(stderr, "[debug] %.*s\n", int(text.size()), text.data());
  std::lock_guard lock(mutex_);
  lines_.emplace_back(text);
}

std::vector<std::string> SimDebugOutput::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void SimDebugOutput::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

// --- paths ---------------------------------------------------------------------------------------

SimPaths::SimPaths() {
  namespace fs = std::filesystem;
  std::random_device rd;
  for (int attempt = 0;; ++attempt) {
    const fs::path candidate =
        fs::temp_directory_path() / ("kvsim-" + std::to_string(rd()) + std::to_string(attempt));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      root_ = path::FromFs(candidate);
      break;
    }
    if (attempt > 100)
      throw std::runtime_error("cannot create a temporary folder for the sim platform");
  }
  exeDir_ = path::WithTrailingSep(path::Join(root_, "exe"));
  documentsDir_ = path::Join(root_, "Documents");
  path::CreateOneFolder(exeDir_);
  path::CreateOneFolder(documentsDir_);
}

SimPaths::~SimPaths() {
  std::error_code ec;
  std::filesystem::remove_all(path::ToFs(root_), ec);
}

SimPlatform::SimPlatform() : platform_{registry, paths, clock, loop, windows, instance, debug} {
  platform_.messageBoxes = &messageBoxes;
}

}  // namespace kv::platform::sim
