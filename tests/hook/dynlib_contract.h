#pragma once
// The contract of the dynamic-library service (platform/dynlib.h) as a typed GoogleTest suite,
// exercised with the project's test hook library. Every implementation instantiates it with an
// environment type:
//
//   struct MyEnv {
//     kv::platform::DynamicLibraries& libraries();
//     // Folder that holds the test hook library (target kv_test_hook_library).
//     std::string LibraryFolder();
//     // Makes bare file names find libraries in `folder`; false where the test cannot arrange
//     // that (the bare-name case then skips).
//     bool SearchIn(const std::string& folder);
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(MyPlatform, DynamicLibrariesContract, ::testing::Types<MyEnv>);
#include <gtest/gtest.h>

#include "base/path.h"
#include "hook/gx_hook.h"
#include "platform/dynlib.h"

namespace kv::platform::contract {

template <typename Env>
class DynamicLibrariesContract : public ::testing::Test {
 protected:
  std::string LibraryFile() {
    return path::Join(env.LibraryFolder(), env.libraries().FileName(kHookLibraryName));
  }
  Env env;
};

TYPED_TEST_SUITE_P(DynamicLibrariesContract);

TYPED_TEST_P(DynamicLibrariesContract, ALibraryNamedWithItsFolderLoadsAndResolvesItsExports) {
  auto lib = this->env.libraries().Load(this->LibraryFile());
  ASSERT_TRUE(lib);
  for (const char* name : {hooklib::kEnableKeyboardHook, hooklib::kDisableKeyboardHook,
                           hooklib::kEnableMouseHook, hooklib::kDisableMouseHook})
    EXPECT_NE(lib->Symbol(name), nullptr) << name;
  EXPECT_EQ(lib->Symbol("NoSuchExport"), nullptr);
  EXPECT_EQ(lib->Symbol(""), nullptr);
}

TYPED_TEST_P(DynamicLibrariesContract, MissingFilesAndEmptyNamesLoadNothing) {
  auto& libraries = this->env.libraries();
  EXPECT_FALSE(libraries.Load(path::Join(this->env.LibraryFolder(), "no-such-library.bin")));
  EXPECT_FALSE(libraries.Load("no-such-library-anywhere.bin"));
  EXPECT_FALSE(libraries.Load(""));
}

TYPED_TEST_P(DynamicLibrariesContract, HandlesToOneLibraryShareItsStateAndOutliveEachOther) {
  auto first = this->env.libraries().Load(this->LibraryFile());
  auto second = this->env.libraries().Load(this->LibraryFile());
  ASSERT_TRUE(first && second);
  reinterpret_cast<void (*)()>(first->Symbol("TestHookReset"))();
  auto enable =
      reinterpret_cast<hooklib::EnableHookFn>(second->Symbol(hooklib::kEnableKeyboardHook));
  auto query = reinterpret_cast<int (*)(int, int)>(first->Symbol("TestHookQuery"));
  ASSERT_TRUE(enable && query);
  enable([](void*, std::int32_t, std::uintptr_t, std::intptr_t, bool*) {}, nullptr, 0);
  second.reset();
  EXPECT_EQ(query(0, 1),
            1);  // the enable went through the other handle, and the code is still there
  reinterpret_cast<void (*)()>(first->Symbol("TestHookReset"))();
}

TYPED_TEST_P(DynamicLibrariesContract, BareNamesAreFoundThroughTheSearchOrder) {
  if (!this->env.SearchIn(this->env.LibraryFolder())) GTEST_SKIP() << "no search folder here";
  auto lib = this->env.libraries().Load(this->env.libraries().FileName(kHookLibraryName));
  ASSERT_TRUE(lib);
  EXPECT_NE(lib->Symbol(hooklib::kEnableMouseHook), nullptr);
}

REGISTER_TYPED_TEST_SUITE_P(DynamicLibrariesContract,
                            ALibraryNamedWithItsFolderLoadsAndResolvesItsExports,
                            MissingFilesAndEmptyNamesLoadNothing,
                            HandlesToOneLibraryShareItsStateAndOutliveEachOther,
                            BareNamesAreFoundThroughTheSearchOrder);

}  // namespace kv::platform::contract
