#include "platform/sim/sim_dynlib.h"

#include "base/path.h"
#include "base/strings.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kv::platform::sim {

class SimDynamicLibraries::TableLibrary : public DynamicLibrary {
 public:
  TableLibrary(SimDynamicLibraries& owner, SymbolTable symbols)
      : owner_(owner), symbols_(std::move(symbols)) {}
  ~TableLibrary() override {
    std::lock_guard lock(owner_.mutex_);
    --owner_.open_;
  }
  void* Symbol(std::string_view name) override {
    auto it = symbols_.find(name);
    return it == symbols_.end() ? nullptr : it->second;
  }

 private:
  SimDynamicLibraries& owner_;
  SymbolTable symbols_;
};

class SimDynamicLibraries::HostLibrary : public DynamicLibrary {
 public:
#ifdef _WIN32
  using Handle = HMODULE;
#else
  using Handle = void*;
#endif
  HostLibrary(SimDynamicLibraries& owner, Handle handle) : owner_(owner), handle_(handle) {}
  ~HostLibrary() override {
#ifdef _WIN32
    FreeLibrary(handle_);
#else
    dlclose(handle_);
#endif
    std::lock_guard lock(owner_.mutex_);
    --owner_.open_;
  }
  void* Symbol(std::string_view name) override {
    const std::string n(name);
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(handle_, n.c_str()));
#else
    return dlsym(handle_, n.c_str());
#endif
  }

  static Handle Open(const std::string& path) {
#ifdef _WIN32
    return LoadLibraryA(path.c_str());
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
  }

 private:
  SimDynamicLibraries& owner_;
  Handle handle_;
};

std::string SimDynamicLibraries::FileName(std::string_view name) const {
#ifdef _WIN32
  return std::string(name) + ".dll";
#else
  return "lib" + std::string(name) + ".so";
#endif
}

std::unique_ptr<DynamicLibrary> SimDynamicLibraries::Load(std::string_view fileName) {
  std::unique_lock lock(mutex_);
  requests_.emplace_back(fileName);
  for (auto& [name, table] : tables_) {
    if (EqualsIgnoreCase(name, fileName)) {
      ++open_;
      return std::make_unique<TableLibrary>(*this, table);
    }
  }
  const std::vector<std::string> folders = folders_;
  lock.unlock();
  if (fileName.empty()) return nullptr;
  // A name with a folder is that file and no other; a bare name is looked for in the folders.
  std::vector<std::string> candidates;
  if (fileName.find_first_of("/\\") != std::string_view::npos) candidates.emplace_back(fileName);
  else
    for (const auto& folder : folders) candidates.push_back(path::Join(folder, fileName));
  for (const auto& file : candidates) {
    if (!path::FileExists(file)) continue;
    if (auto handle = HostLibrary::Open(file)) {
      lock.lock();
      ++open_;
      return std::make_unique<HostLibrary>(*this, handle);
    }
  }
  return nullptr;
}

void SimDynamicLibraries::AddTable(std::string fileName, SymbolTable symbols) {
  std::lock_guard lock(mutex_);
  tables_[std::move(fileName)] = std::move(symbols);
}

void SimDynamicLibraries::AddSearchFolder(std::string folder) {
  std::lock_guard lock(mutex_);
  folders_.push_back(std::move(folder));
}

std::vector<std::string> SimDynamicLibraries::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int SimDynamicLibraries::OpenCount() const {
  std::lock_guard lock(mutex_);
  return open_;
}

}  // namespace kv::platform::sim
