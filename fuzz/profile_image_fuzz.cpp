// libFuzzer target: the profile store started on records of any size and content, in the
// registry and in .pfd files, then reloaded and switched through. Every record the store reads
// must be accepted, refused with the store's own errors, or replaced by its defaults: never a
// crash, a read past an image or a hang.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "profile/dm.h"
#include "profile/records.h"

namespace {

namespace fs = std::filesystem;
using kv::platform::RootKey;

// Where an input chunk goes: the three records of the store, the five profiles as registry
// values, and the five profiles as .pfd files (their group entries then say "file").
constexpr int kSlots = 3 + 2 * kv::kProfileCount;
const char* const kRecordNames[3] = {"ProfileSettingGroup.pfd", "allsettings.pfd",
                                     "RecordRPROFILE.pfd"};

std::string ProfileName(int i) { return "Profile" + std::to_string(i + 1) + ".pfd"; }

struct World {
  kv::platform::sim::SimPaths paths;
  kv::platform::sim::SimClock clock;
  std::string folder;  // the registry folder the store uses
  std::string profileDir;
  std::vector<std::uint8_t> defaults[kSlots];  // each slot's image as a first start writes it

  World() {
    kv::platform::sim::SimRegistry registry;
    kv::TDM dm(registry, paths, clock);
    if (!dm.StartupError().empty()) std::abort();
    folder = dm.FOptionsFromConfigFile.ProfileRegFolder;
    profileDir = dm.GetPersonalDocumentProfilePath();
    for (int s = 0; s < 2; ++s)
      if (auto v = registry.Value(RootKey::CurrentUser, folder, kRecordNames[s]))
        defaults[s] = v->data;
    defaults[2].assign(sizeof(kv::TMACROKEYINFO), 0);
    auto profile = std::make_unique<kv::TMouseProfileInfo>();
    for (int s = 3; s < kSlots; ++s) {
      if (!dm.ReadProfileInfo(*profile, (s - 3) % kv::kProfileCount)) std::abort();
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(profile.get());
      defaults[s].assign(bytes, bytes + sizeof *profile);
    }
  }
  // Files a run left behind would leak into the next input.
  void RemoveFiles() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(paths.DocumentsDir(), ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
      if (it->is_regular_file(ec)) fs::remove(it->path(), ec);
  }
};

std::uint32_t Take(const std::uint8_t*& data, std::size_t& size, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes && size > 0; ++i, ++data, --size) v |= std::uint32_t(*data) << (8 * i);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  std::vector<std::uint8_t> image[kSlots];
  bool given[kSlots] = {};
  std::uint32_t type[kSlots] = {};
  // Chunks: selector (slot, bit 6: stored with another value type, bit 7: patch), then either
  // a 24-bit length and a whole image of that length, or a 24-bit offset, an 8-bit length and
  // bytes that overwrite the slot's default image there.
  while (size > 0) {
    const std::uint8_t selector = static_cast<std::uint8_t>(Take(data, size, 1));
    const int slot = (selector & 0x3F) % kSlots;
    if (!given[slot]) image[slot] = world.defaults[slot];
    given[slot] = true;
    type[slot] = (selector & 0x40) ? 1 + (selector & 1) * 3 : 3;  // REG_SZ, REG_DWORD, REG_BINARY
    if (selector & 0x80) {
      const std::size_t offset = Take(data, size, 3);
      const std::size_t n = std::min<std::size_t>(Take(data, size, 1), size);
      if (offset + n > image[slot].size()) image[slot].resize(offset + n);
      std::copy_n(data, n, image[slot].begin() + static_cast<std::ptrdiff_t>(offset));
      data += n;
      size -= n;
    } else {
      const std::size_t n = std::min<std::size_t>(Take(data, size, 3), size);
      image[slot].assign(data, data + n);
      data += n;
      size -= n;
    }
  }

  kv::platform::sim::SimRegistry registry;
  const int firstFile = 3 + kv::kProfileCount;
  for (int s = 0; s < firstFile; ++s)
    if (given[s])
      registry.SetRawValue(RootKey::CurrentUser, world.folder,
                           s < 3 ? kRecordNames[s] : ProfileName(s - 3), type[s], image[s]);
  for (int i = 0; i < kv::kProfileCount; ++i) {
    if (!given[firstFile + i]) continue;
    std::ofstream(world.profileDir + ProfileName(i), std::ios::binary)
        .write(reinterpret_cast<const char*>(image[firstFile + i].data()),
               static_cast<std::streamsize>(image[firstFile + i].size()));
    // The group record sends that profile to its file (unless the input gave a group record).
    if (given[0]) continue;
    auto group = registry.Value(RootKey::CurrentUser, world.folder, kRecordNames[0]);
    std::vector<std::uint8_t> g = group ? group->data : world.defaults[0];
    g.resize(sizeof(kv::TProfileSettingGroup));
    auto* record = reinterpret_cast<kv::TProfileSettingGroup*>(g.data());
    record->ProfileSettingList[i].StorageType = kv::kStorageFile;
    registry.SetRawValue(RootKey::CurrentUser, world.folder, kRecordNames[0], 3, g);
  }

  {
    kv::TDM dm(registry, world.paths, world.clock);
    auto profile = std::make_unique<kv::TMouseProfileInfo>();
    const auto attempt = [](auto&& operation) {
      try {
        operation();
      } catch (const std::exception&) {
        // The store's contract: range errors and store or file errors reach the caller.
      }
    };
    attempt([&] { dm.LoadProfileGroupSettingInfoFromRegistry(); });
    attempt([&] { dm.LoadAllProfileInfoFromRegistry(); });
    attempt([&] { (void)dm.LoadCurrentProfileInfoFromRegistry(); });
    attempt([&] { dm.LoadRecordMacroInfoFromRegistry(); });
    for (int i = -1; i <= kv::kProfileCount; ++i) {
      attempt([&] { (void)dm.SwitchToProfile(i); });
      attempt([&] { (void)dm.ReadProfileInfo(*profile, i); });
      attempt([&] { (void)dm.LoadProfileInfoFromRegistry(i); });
    }
    for (int g = -1; g <= 2; ++g) attempt([&] { (void)dm.SwitchToProfileGroup(g); });
    attempt([&] { (void)dm.ReadCurrentProfileInfo(); });
    attempt([&] { (void)dm.GetAllProfilesMacroIndexList(); });
  }
  world.RemoveFiles();
  return 0;
}
