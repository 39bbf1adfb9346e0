// The shared dynamic-library contract on dlopen, with the project's test hook library.
#include <gtest/gtest.h>

#include "base/path.h"
#include "hook/dynlib_contract.h"
#include "platform/linux/qt_desktop.h"

namespace {

// The loader looks in the executable's folder first; the test names that folder.
class FolderPaths : public kv::platform::Paths {
 public:
  std::string ExecutableDir() override { return folder; }
  std::string DocumentsDir() override { return ""; }
  std::string folder = "/nonexistent/";
};

struct DlEnv {
  FolderPaths paths;
  kv::platform::linux_::DlDynamicLibraries libs{paths};
  kv::platform::DynamicLibraries& libraries() { return libs; }
  std::string LibraryFolder() { return KV_TEST_HOOK_DIR; }
  bool SearchIn(const std::string& folder) {
    paths.folder = kv::path::WithTrailingSep(folder);
    return true;
  }
};

}  // namespace

namespace kv::platform::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Dlopen, DynamicLibrariesContract, ::testing::Types<DlEnv>);
}
