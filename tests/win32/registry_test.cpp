// The registry on a key the user may only read: the store gets no key to write, and the
// profile store's soft rules for a key it cannot open apply.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include "platform/win32/wide.h"
#include "platform/win32/win32_registry.h"
#include "profile/gx_profile.h"

namespace {

using namespace kv::platform;
using Bytes = std::vector<std::uint8_t>;

class ReadOnlyKey : public ::testing::Test {
 protected:
  ReadOnlyKey() {
    registry.CreateKey(RootKey::CurrentUser, path)->SetBinary("Profile1.pfd", Bytes{1, 2, 3});
    SetPermissions(L"D:P(A;;KR;;;WD)");  // everyone may read, nobody may write
  }
  ~ReadOnlyKey() override {
    SetPermissions(L"D:P(A;;KA;;;WD)");
    registry.RemoveSandbox();
  }

  void SetPermissions(const wchar_t* sddl) {
    HKEY key = nullptr;
    const std::wstring full = win32::Widen(sandbox + "\\" + path);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, full.c_str(), 0, WRITE_DAC, &key), ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
    LocalFree(sd);
    RegCloseKey(key);
  }

  const std::string sandbox = "Software\\kvmon-readonly-" + std::to_string(GetCurrentProcessId());
  const std::string path = "software\\KVgmmouse";
  win32::Win32Registry registry{sandbox};
};

TEST_F(ReadOnlyKey, TheStoreGetsNoKeyToWriteWhileReadersStillRead) {
  EXPECT_EQ(registry.CreateKey(RootKey::CurrentUser, path), nullptr);
  auto key = registry.OpenKey(RootKey::CurrentUser, path);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->QueryValue("Profile1.pfd")->data, (Bytes{1, 2, 3}));
  EXPECT_THROW(key->SetBinary("Profile1.pfd", Bytes{4}), RegistryError);
}

TEST_F(ReadOnlyKey, ASaveReturnsFalseAndALoadKeepsTheImageAndSucceeds) {
  kv::TgxProfile p(registry);
  p.SetRootKey(RootKey::CurrentUser);
  p.SetKeyPath(path);
  p.SetFileName("Profile1.pfd");
  const std::uint8_t image[4] = {9, 9, 9, 9};
  p.Write(image, 4);
  int after = 0;
  p.OnAfterSaveToRegistry = p.OnAfterLoadFromRegistry = [&](auto&) { ++after; };
  EXPECT_FALSE(p.SaveStreamToRegistry());
  EXPECT_EQ(after, 0);
  EXPECT_TRUE(p.LoadStreamFromRegistry());
  EXPECT_EQ(p.MemoryStream(), (Bytes{9, 9, 9, 9}));
  EXPECT_EQ(after, 1);
  EXPECT_EQ(registry.OpenKey(RootKey::CurrentUser, path)->QueryValue("Profile1.pfd")->data,
            (Bytes{1, 2, 3}));
}

}  // namespace
