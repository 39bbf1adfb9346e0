// The shared dynamic-library contract on LoadLibraryW, with the project's test hook DLL.
#include <gtest/gtest.h>
#include <windows.h>

#include "hook/dynlib_contract.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_dynlib.h"

namespace {

struct Win32LibrariesEnv {
  kv::platform::win32::Win32DynamicLibraries libs;
  ~Win32LibrariesEnv() { SetDllDirectoryW(nullptr); }
  kv::platform::DynamicLibraries& libraries() { return libs; }
  // The build's Linux folder, as Wine's Z: drive shows it.
  std::string LibraryFolder() {
    std::string folder = std::string("Z:") + KV_TEST_HOOK_DIR;
    for (char& c : folder)
      if (c == '/') c = '\\';
    return folder;
  }
  // Bare names are looked up in the DLL directory after the program's own folder.
  bool SearchIn(const std::string& folder) {
    return SetDllDirectoryW(kv::platform::win32::Widen(folder).c_str()) != FALSE;
  }
};

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, DynamicLibrariesContract,
                               ::testing::Types<Win32LibrariesEnv>);
}
