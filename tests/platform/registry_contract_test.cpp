// One contract for every registry implementation: the sim store and each real one this host runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/sim/sim_registry.h"
#ifdef KV_HAVE_LINUX_CORE
#include <stdlib.h>

#include "platform/linux/sqlite_registry.h"
#endif
#ifdef KV_HAVE_WIN32_CORE
#include "platform/win32/win32_registry.h"
#endif

using namespace kv::platform;

namespace {

struct SimStore {
  sim::SimRegistry registry;
};

#ifdef KV_HAVE_LINUX_CORE
// A folder of its own that no other test process can be given (mkdtemp), so parallel runs never
// share a store.
std::filesystem::path UniqueTempFolder() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kvreg-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

struct SqliteStore {
  SqliteStore() : dir(UniqueTempFolder()), registry((dir / "registry.db").string()) {}
  ~SqliteStore() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  linux_::SqliteRegistry registry;
};
#endif

#ifdef KV_HAVE_WIN32_CORE
// The real registry, each test in a private tree of its own below HKCU and HKLM.
struct Win32Store {
  Win32Store()
      : registry("Software\\kvmon-contract\\" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 std::to_string(reinterpret_cast<std::uintptr_t>(this))) {}
  ~Win32Store() { registry.RemoveSandbox(); }
  win32::Win32Registry registry;
  // Windows happens to list values in creation order, Wine sorts them: neither is promised.
  static constexpr bool kListsInCreationOrder = false;
};
#endif

template <typename Store>
constexpr bool ListsInCreationOrder() {
  if constexpr (requires { Store::kListsInCreationOrder; }) return Store::kListsInCreationOrder;
  return true;
}

[[maybe_unused]] std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

template <typename Store>
class RegistryContract : public ::testing::Test {
 protected:
  Store store;
  Registry& reg() { return store.registry; }
};

#if defined(KV_HAVE_LINUX_CORE)
using Stores = ::testing::Types<SimStore, SqliteStore>;
#elif defined(KV_HAVE_WIN32_CORE)
using Stores = ::testing::Types<SimStore, Win32Store>;
#else
using Stores = ::testing::Types<SimStore>;
#endif
TYPED_TEST_SUITE(RegistryContract, Stores);

TYPED_TEST(RegistryContract, CreateKeyMakesMissingParentsAndOpenFindsThemInAnyCase) {
  EXPECT_EQ(this->reg().OpenKey(RootKey::CurrentUser, "software\\software\\KVgmmouse"), nullptr);
  ASSERT_NE(this->reg().CreateKey(RootKey::CurrentUser, "software\\software\\KVgmmouse"), nullptr);
  EXPECT_NE(this->reg().OpenKey(RootKey::CurrentUser, "Software"), nullptr);
  EXPECT_NE(this->reg().OpenKey(RootKey::CurrentUser, "SOFTWARE\\Software"), nullptr);
  EXPECT_NE(this->reg().OpenKey(RootKey::CurrentUser, "software\\SOFTWARE\\kvgmmouse"), nullptr);
  // Roots are separate trees.
  EXPECT_EQ(this->reg().OpenKey(RootKey::LocalMachine, "software"), nullptr);
}

TYPED_TEST(RegistryContract, UnusableRootsAndEmptyPathsGiveNoKey) {
  EXPECT_EQ(this->reg().CreateKey(RootKey::None, "software"), nullptr);
  EXPECT_EQ(this->reg().CreateKey(static_cast<RootKey>(0x80000003u), "software"), nullptr);
  EXPECT_EQ(this->reg().CreateKey(RootKey::CurrentUser, ""), nullptr);
}

TYPED_TEST(RegistryContract, BinaryValuesRoundTripExactlyIncludingEmptyAndLarge) {
  auto key = this->reg().CreateKey(RootKey::CurrentUser, "a\\b");
  std::vector<std::uint8_t> big(142240);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  key->SetBinary("profile1.pfd", big);
  key->SetBinary("empty", {});
  auto v = key->QueryValue("PROFILE1.PFD");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->kind, ValueKind::Binary);
  EXPECT_EQ(v->data, big);
  auto e = key->QueryValue("empty");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, ValueKind::Binary);
  EXPECT_TRUE(e->data.empty());
  EXPECT_FALSE(key->QueryValue("missing"));
}

TYPED_TEST(RegistryContract, ReplacingAValueChangesItsTypeAndKeepsOneEntry) {
  auto key = this->reg().CreateKey(RootKey::CurrentUser, "k");
  key->SetBinary("ProfileID", std::vector<std::uint8_t>{1, 2, 3});
  key->SetDword("profileid", 0x01020304);
  auto v = key->QueryValue("ProfileID");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->kind, ValueKind::Dword);
  EXPECT_EQ(v->data, (std::vector<std::uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(key->ValueNames().size(), 1u);
}

TYPED_TEST(RegistryContract, ValuesAreVisibleThroughEveryHandleOfTheKeyAndListedInOrder) {
  auto a = this->reg().CreateKey(RootKey::CurrentUser, "x\\y");
  a->SetDword("one", 1);
  a->SetDword("two", 2);
  a->SetDword("three", 3);
  auto b = this->reg().OpenKey(RootKey::CurrentUser, "X\\Y");
  ASSERT_TRUE(b);
  if constexpr (ListsInCreationOrder<TypeParam>())
    EXPECT_EQ(b->ValueNames(), (std::vector<std::string>{"one", "two", "three"}));
  else EXPECT_EQ(Sorted(b->ValueNames()), (std::vector<std::string>{"one", "three", "two"}));
  EXPECT_TRUE(b->DeleteValue("TWO"));
  EXPECT_FALSE(b->DeleteValue("two"));
  if constexpr (ListsInCreationOrder<TypeParam>())
    EXPECT_EQ(a->ValueNames(), (std::vector<std::string>{"one", "three"}));
  else EXPECT_EQ(Sorted(a->ValueNames()), (std::vector<std::string>{"one", "three"}));
}

}  // namespace
