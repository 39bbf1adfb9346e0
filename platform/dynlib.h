#pragma once
// Dynamic libraries bound at run time by file name: the hook library, and whatever else a
// component chooses to load only when it is there.
#include <memory>
#include <string>
#include <string_view>

namespace kv::platform {

// One loaded library. Destroying the object releases it (the platform may keep the code mapped
// while other handles to the same file exist, as every loader does).
class DynamicLibrary {
 public:
  virtual ~DynamicLibrary() = default;
  // Address of an exported function or object, or nullptr when the library has no such export.
  // Function addresses are cast by the caller to the type the export is documented to have.
  virtual void* Symbol(std::string_view name) = 0;
};

class DynamicLibraries {
 public:
  virtual ~DynamicLibraries() = default;
  // The file name this platform gives the library called `name`: "gxHook" is "gxHook.dll" on
  // Windows and "libgxHook.so" on Linux.
  virtual std::string FileName(std::string_view name) const = 0;
  // Loads a library by file name ("gxHook.dll", "libgxHook.so"), through the platform's normal
  // search order; a name with a folder in it is loaded from that folder only. The folder of the
  // running executable is searched first on every platform (Windows does so by itself; the
  // Linux implementation adds it before the loader's own search), so a library installed beside
  // the program is found. nullptr when it cannot be loaded.
  virtual std::unique_ptr<DynamicLibrary> Load(std::string_view fileName) = 0;
};

}  // namespace kv::platform
