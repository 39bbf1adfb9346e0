#include "profile/gx_profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/path.h"
#include "platform/sim/sim_platform.h"
#include "profile/errors.h"

namespace {

using kv::TgxProfile;
using kv::platform::RootKey;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kKey = "software\\software\\KVgmmouse";

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

Bytes FileBytes(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct GxProfile : ::testing::Test {
  kv::platform::sim::SimPlatform sim;
  TgxProfile p{sim.registry};
  std::string docs = sim.paths.DocumentsDir();

  void UseRegistry() {
    p.SetRootKey(RootKey::CurrentUser);
    p.SetKeyPath(kKey);
    p.SetFileName("Profile1.pfd");
  }
};

TEST_F(GxProfile, UnusableRegistrySettingsAreRefusedWithoutTouchingTheStore) {
  int after = 0;
  p.OnAfterSaveToRegistry = p.OnAfterLoadFromRegistry = [&](auto&) { ++after; };
  p.SetKeyPath(kKey);
  p.SetFileName("Profile1.pfd");
  EXPECT_FALSE(p.SaveStreamToRegistry()) << "root key 0, as in the form data";
  EXPECT_FALSE(p.LoadStreamFromRegistry());
  p.SetRootKey(RootKey::CurrentUser);
  p.SetFileName("");
  EXPECT_FALSE(p.SaveStreamToRegistry());
  EXPECT_EQ(sim.registry.WriteCount(), 0u);
  EXPECT_FALSE(sim.registry.KeyExists(RootKey::CurrentUser, kKey));
  EXPECT_EQ(after, 0);
}

TEST_F(GxProfile, RegistryRoundTripIsByteForByteAndTheStoredSizeReplacesTheImageSize) {
  UseRegistry();
  const Bytes image = Pattern(142240, 3);
  p.Write(image.data(), static_cast<int>(image.size()));
  ASSERT_TRUE(p.SaveStreamToRegistry());
  EXPECT_EQ(sim.registry.Value(RootKey::CurrentUser, kKey, "Profile1.pfd")->data, image);

  // A short value (an older record) is taken whole at its stored size.
  sim.registry.SetRawValue(RootKey::CurrentUser, kKey, "Profile1.pfd", 3, Pattern(100, 9));
  ASSERT_TRUE(p.LoadStreamFromRegistry());
  EXPECT_EQ(p.MemoryStream().size(), 100u);
  EXPECT_EQ(p.Size(), 142240) << "a load does not change Size";
  Bytes dest(142240, 0xEE);
  EXPECT_EQ(p.Read(dest.data(), 142240), 100);
  EXPECT_TRUE(std::equal(dest.begin(), dest.begin() + 100, Pattern(100, 9).begin()));
  EXPECT_EQ(dest[100], 0xEE);
  EXPECT_EQ(dest.back(), 0xEE);

  sim.registry.SetRawValue(RootKey::CurrentUser, kKey, "Profile1.pfd", 3, {});
  EXPECT_TRUE(p.LoadStreamFromRegistry());
  EXPECT_TRUE(p.MemoryStream().empty());
}

TEST_F(GxProfile, MissingOrForeignRegistryValuesLeaveTheImageAlone) {
  UseRegistry();
  const Bytes image = Pattern(64, 1);
  p.Write(image.data(), 64);
  int after = 0;
  p.OnAfterLoadFromRegistry = [&](auto&) { ++after; };
  EXPECT_FALSE(p.LoadStreamFromRegistry());
  sim.registry.SetRawValue(RootKey::CurrentUser, kKey, "Profile1.pfd", 1, {'a', 0, 'b', 0});
  EXPECT_THROW((void)p.LoadStreamFromRegistry(), kv::platform::RegistryError);
  sim.registry.SetRawValue(RootKey::CurrentUser, kKey, "Profile1.pfd", 4, {1, 0, 0, 0});
  EXPECT_THROW((void)p.LoadStreamFromRegistry(), kv::platform::RegistryError);
  EXPECT_EQ(p.MemoryStream(), image);
  EXPECT_EQ(after, 0);

  sim.registry.FailWrites(true);
  EXPECT_THROW((void)p.SaveStreamToRegistry(), kv::platform::RegistryError);
}

TEST_F(GxProfile, BeforeEventsCanCancelAndAfterEventsFollowOnlySuccess) {
  UseRegistry();
  std::vector<std::string> calls;
  bool allow = false;
  auto before = [&](const char* name) {
    return [&, name](TgxProfile::Stream&, bool& go) {
      calls.push_back(name);
      EXPECT_TRUE(go);
      go = allow;
    };
  };
  p.OnBeforeSaveToRegistry = before("save-reg");
  p.OnBeforeLoadFromRegistry = before("load-reg");
  p.OnBeforeSaveToFile = before("save-file");
  p.OnBeforeLoadFromFile = before("load-file");
  p.OnAfterSaveToRegistry = p.OnAfterLoadFromRegistry = p.OnAfterSaveToFile =
      p.OnAfterLoadFromFile = [&](auto&) { calls.push_back("after"); };
  p.SetFilePath(docs);
  const std::string file = kv::path::Join(docs, "Profile1.pfd");
  p.Write("abc", 3);
  EXPECT_FALSE(p.SaveStreamToRegistry());
  EXPECT_FALSE(p.SaveStreamToFile());
  EXPECT_FALSE(p.SaveStreamToFile(file));
  EXPECT_EQ(sim.registry.WriteCount(), 0u);
  EXPECT_FALSE(kv::path::FileExists(file));
  EXPECT_EQ(calls, (std::vector<std::string>{"save-reg", "save-file", "save-file"}));

  // Loads that would succeed are cancelled too, and the image keeps its bytes.
  sim.registry.SetRawValue(RootKey::CurrentUser, kKey, "Profile1.pfd", 3, {'r', 'e', 'g'});
  { std::ofstream(file, std::ios::binary) << "file"; }
  calls.clear();
  EXPECT_FALSE(p.LoadStreamFromRegistry());
  EXPECT_FALSE(p.LoadStreamFromFile());
  EXPECT_FALSE(p.LoadStreamFromFile(file));
  EXPECT_EQ(p.MemoryStream(), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(calls, (std::vector<std::string>{"load-reg", "load-file", "load-file"}));

  allow = true;
  calls.clear();
  EXPECT_TRUE(p.LoadStreamFromRegistry());
  EXPECT_EQ(p.MemoryStream(), (Bytes{'r', 'e', 'g'}));
  EXPECT_TRUE(p.SaveStreamToFile());
  EXPECT_TRUE(p.LoadStreamFromFile(file));
  EXPECT_EQ(calls, (std::vector<std::string>{"load-reg", "after", "save-file", "after", "load-file",
                                             "after"}));
}

TEST_F(GxProfile, FilePathTakesOnlyExistingFoldersAndKeepsATrailingSeparator) {
  p.SetFilePath(docs);
  EXPECT_EQ(p.FilePath(), kv::path::WithTrailingSep(docs));
  p.SetFilePath(kv::path::Join(docs, "missing"));
  p.SetFilePath("");
  EXPECT_EQ(p.FilePath(), kv::path::WithTrailingSep(docs));
}

TEST_F(GxProfile, FileSavesReplaceTheTargetWholeAndLoadsReadItBack) {
  p.SetFilePath(docs);
  p.SetFileName("Profile2.pfd");
  const std::string file = kv::path::Join(docs, "Profile2.pfd");
  { std::ofstream(file, std::ios::binary) << std::string(500000, 'x'); }
  const Bytes image = Pattern(142240, 5);
  p.Write(image.data(), static_cast<int>(image.size()));
  ASSERT_TRUE(p.SaveStreamToFile());
  EXPECT_EQ(FileBytes(file), image);
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
  // A temporary file left by a save that was killed goes with the next save.
  { std::ofstream(file + ".tmp", std::ios::binary) << std::string(70000, 't'); }
  ASSERT_TRUE(p.SaveStreamToFile());
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
  EXPECT_EQ(FileBytes(file), image);

  TgxProfile q{sim.registry};
  q.Write("zz", 2);
  EXPECT_FALSE(q.LoadStreamFromFile(kv::path::Join(docs, "none.pfd")));
  EXPECT_EQ(q.MemoryStream(), (Bytes{'z', 'z'}));
  ASSERT_TRUE(q.LoadStreamFromFile(file));
  EXPECT_EQ(q.MemoryStream(), image);
  EXPECT_EQ(q.FilePath(), "") << "loading a named file does not adopt its folder";
}

TEST_F(GxProfile, FileSavesRefuseMissingFoldersAndReportUnwritableTargets) {
  p.Write("abc", 3);
  EXPECT_FALSE(p.SaveStreamToFile()) << "no folder set";
  EXPECT_FALSE(p.SaveStreamToFile(kv::path::Join(docs, "a/b/x.pfd"))) << "grandparent missing";
  EXPECT_FALSE(kv::path::FolderExists(kv::path::Join(docs, "a")));
  ASSERT_TRUE(p.SaveStreamToFile(kv::path::Join(docs, "new/x.pfd"))) << "one level is created";
  EXPECT_EQ(FileBytes(kv::path::Join(docs, "new/x.pfd")), (Bytes{'a', 'b', 'c'}));
  // A folder where the file should be cannot be replaced by a file.
  std::filesystem::create_directory(kv::path::Join(docs, "dir.pfd"));
  EXPECT_THROW((void)p.SaveStreamToFile(kv::path::Join(docs, "dir.pfd")), kv::ProfileFileError);

  ASSERT_TRUE(p.PreSaveStreamToFile(kv::path::Join(kv::path::Join(docs, "pre"), "y.pfd")));
  EXPECT_EQ(p.FilePath(), kv::path::WithTrailingSep(kv::path::Join(docs, "pre")));
  EXPECT_EQ(p.FileName(), "y.pfd");
  EXPECT_TRUE(p.SaveStreamToFile());
  EXPECT_FALSE(p.PreSaveStreamToFile(kv::path::Join(docs, "p/q/z.pfd")));

  // A name without a folder is refused like an empty folder, wherever the process runs.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(kv::path::ToFs(docs));
  EXPECT_FALSE(p.SaveStreamToFile("bare.pfd"));
  EXPECT_FALSE(p.PreSaveStreamToFile("bare.pfd"));
  std::filesystem::current_path(cwd);
  EXPECT_FALSE(kv::path::FileExists(kv::path::Join(docs, "bare.pfd")));
  EXPECT_EQ(p.FileName(), "y.pfd") << "a refused PreSave keeps the old name";
}

TEST_F(GxProfile, UnstoredBytesAreSavedAsZerosAndLoadedAsStored) {
  UseRegistry();
  p.SetUnstoredBytes(10, 4);
  const Bytes image = Pattern(20, 1);
  Bytes stored = image;
  std::fill(stored.begin() + 10, stored.begin() + 14, 0);
  p.Write(image.data(), 20);
  ASSERT_TRUE(p.SaveStreamToRegistry());
  auto key = sim.registry.CreateKey(RootKey::CurrentUser, kKey);
  EXPECT_EQ(key->QueryValue("Profile1.pfd")->data, stored);
  EXPECT_EQ(p.MemoryStream(), image) << "the image in memory keeps its bytes";
  const std::string file = kv::path::Join(docs, "u.pfd");
  ASSERT_TRUE(p.SaveStreamToFile(file));
  EXPECT_EQ(FileBytes(file), stored);

  // A load takes the stored bytes unchanged, whatever another program left there.
  key->SetBinary("Profile1.pfd", image);
  p.MemoryStream().clear();
  ASSERT_TRUE(p.LoadStreamFromRegistry());
  EXPECT_EQ(p.MemoryStream(), image);

  // A shorter image loses only the part of the range it has.
  p.SetSize(12);
  p.Write(image.data(), 12);
  ASSERT_TRUE(p.SaveStreamToRegistry());
  EXPECT_EQ(key->QueryValue("Profile1.pfd")->data, Bytes(stored.begin(), stored.begin() + 12));
}

TEST_F(GxProfile, WriteKeepsALongerImageAndSizeResizes) {
  const Bytes image = Pattern(142240, 2);
  p.Write(image.data(), static_cast<int>(image.size()));
  const Bytes macro = Pattern(896, 200);
  EXPECT_EQ(p.Write(macro.data(), 896), 896);
  EXPECT_EQ(p.MemoryStream().size(), 142240u);
  EXPECT_TRUE(std::equal(macro.begin(), macro.end(), p.MemoryStream().begin()));
  EXPECT_EQ(p.MemoryStream()[896], image[896]);
  EXPECT_EQ(p.Size(), 142240);
  p.SetSize(10);
  EXPECT_EQ(p.MemoryStream().size(), 10u);

  bool called = false;
  p.RestoreToDefault();  // no handler: nothing happens
  EXPECT_EQ(p.MemoryStream().size(), 10u);
  p.OnRestoreToDefault = [&](TgxProfile::Stream& s) {
    called = true;
    s.assign(3, 1);
  };
  p.RestoreToDefault();
  EXPECT_TRUE(called);
  EXPECT_EQ(p.MemoryStream(), (Bytes{1, 1, 1}));
}

}  // namespace
