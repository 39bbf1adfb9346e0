#pragma once
// Dynamic libraries in the sim world. A library is either an in-process table of symbols that a
// test registers under a file name, or a real file (named with its folder, or found in one of the
// folders the test names) loaded with the host's own loader, so that a test can bind a library
// the project builds, for real.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dynlib.h"

namespace kv::platform::sim {

class SimDynamicLibraries : public DynamicLibraries {
 public:
  using SymbolTable = std::map<std::string, void*, std::less<>>;

  // The host's own naming, since the sim loads real libraries of the host as well.
  std::string FileName(std::string_view name) const override;
  std::unique_ptr<DynamicLibrary> Load(std::string_view fileName) override;

  // Test controls.
  // Makes `fileName` loadable as the given table (replacing an earlier registration).
  void AddTable(std::string fileName, SymbolTable symbols);
  // Real files named in Load are looked for in these folders, in the order added.
  void AddSearchFolder(std::string folder);
  // Every name passed to Load, in order, whether it loaded or not.
  std::vector<std::string> Requests() const;
  // Libraries currently loaded through this service and not yet released.
  int OpenCount() const;

 private:
  class TableLibrary;
  class HostLibrary;
  mutable std::mutex mutex_;
  std::map<std::string, SymbolTable, std::less<>> tables_;
  std::vector<std::string> folders_;
  std::vector<std::string> requests_;
  int open_ = 0;
};

}  // namespace kv::platform::sim
