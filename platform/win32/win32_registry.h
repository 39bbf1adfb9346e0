#pragma once
// The registry on the Win32 API: keys under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE with
// REG_BINARY and REG_DWORD values.
#include <string>

#include "platform/platform.h"

namespace kv::platform::win32 {

class Win32Registry : public Registry {
 public:
  // `sandbox` (tests only) puts every key below that path of its root, so that a test works on
  // a private copy of the tree instead of the user's settings. Empty: the real tree.
  explicit Win32Registry(std::string sandbox = {});
  std::unique_ptr<RegistryKey> CreateKey(RootKey root, std::string_view path) override;
  std::unique_ptr<RegistryKey> OpenKey(RootKey root, std::string_view path) override;

  // Removes the sandbox tree of both roots (tests). Nothing without a sandbox.
  void RemoveSandbox();

 private:
  std::unique_ptr<RegistryKey> Open(RootKey root, std::string_view path, bool create);
  std::string sandbox_;
};

}  // namespace kv::platform::win32
