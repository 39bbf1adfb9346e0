#include "profile/gx_profile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "base/path.h"
#include "profile/errors.h"

namespace kv {

using platform::RootKey;

TgxProfile::TgxProfile(platform::Registry& registry) : registry_(registry) {}

void TgxProfile::SetFilePath(std::string_view value) {
  if (value == FFilePath || value.empty() || !path::FolderExists(value)) return;
  FFilePath = path::WithTrailingSep(value);
}

void TgxProfile::SetSize(std::int64_t value) {
  if (value == FSize || value < 0) return;
  FSize = value;
  FMemoryStream.resize(static_cast<std::size_t>(value));
}

int TgxProfile::Write(const void* Buffer, int Count) {
  if (Count <= 0) return 0;
  const auto n = static_cast<std::size_t>(Count);
  if (FMemoryStream.size() < n) FMemoryStream.resize(n);
  std::memcpy(FMemoryStream.data(), Buffer, n);
  FSize = static_cast<std::int64_t>(FMemoryStream.size());
  return Count;
}

int TgxProfile::Read(void* Buffer, int Count) const {
  if (Count <= 0) return 0;
  const std::size_t n = std::min(FMemoryStream.size(), static_cast<std::size_t>(Count));
  if (n > 0) std::memcpy(Buffer, FMemoryStream.data(), n);
  return static_cast<int>(n);
}

void TgxProfile::RestoreToDefault() {
  if (OnRestoreToDefault) OnRestoreToDefault(FMemoryStream);
}

bool TgxProfile::Before(const TgxProfileEvent& event) {
  bool go = true;
  if (event) event(FMemoryStream, go);
  return go;
}

void TgxProfile::After(const TgxProfileEvent2& event) {
  if (event) event(FMemoryStream);
}

bool TgxProfile::RegistryUsable() const {
  return (FRootKey == RootKey::CurrentUser || FRootKey == RootKey::LocalMachine) &&
         !FKeyPath.empty() && !FFileName.empty();
}

namespace {

void ZeroBytes(TgxProfile::Stream& image, std::size_t offset, std::size_t count) {
  if (offset >= image.size()) return;
  std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(offset),
              std::min(count, image.size() - offset), 0);
}

}  // namespace

TgxProfile::Stream TgxProfile::StoredImage() const {
  Stream image = FMemoryStream;
  ZeroBytes(image, unstoredOffset_, unstoredCount_);
  return image;
}

bool TgxProfile::LoadStreamFromRegistry() {
  if (!Before(OnBeforeLoadFromRegistry)) return false;
  if (!RegistryUsable()) return false;
  // A key that cannot be opened leaves the image as it is and still counts as loaded.
  if (auto key = registry_.CreateKey(FRootKey, FKeyPath)) {
    std::optional<platform::RegistryValue> value = key->QueryValue(FFileName);
    if (!value) return false;
    // Checked before anything changes, so a foreign value never disturbs the image.
    if (value->kind != platform::ValueKind::Binary)
      throw platform::RegistryError("the registry value \"" + FFileName + "\" under \"" + FKeyPath +
                                    "\" is not binary data (type " +
                                    std::to_string(value->rawType) + ")");
    FMemoryStream = std::move(value->data);
  }
  After(OnAfterLoadFromRegistry);
  return true;
}

bool TgxProfile::SaveStreamToRegistry() {
  if (!Before(OnBeforeSaveToRegistry)) return false;
  if (!RegistryUsable()) return false;
  auto key = registry_.CreateKey(FRootKey, FKeyPath);
  if (!key) return false;
  key->SetBinary(FFileName, StoredImage());
  After(OnAfterSaveToRegistry);
  return true;
}

void TgxProfile::EnsureFilePathSep() { FFilePath = path::WithTrailingSep(FFilePath); }

void TgxProfile::ReadFileInto(const std::string& file) {
  std::ifstream in(path::ToFs(file), std::ios::binary);
  if (!in) throw ProfileFileError("cannot open \"" + file + "\" for reading");
  Stream bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ProfileFileError("cannot read \"" + file + "\"");
  FMemoryStream = std::move(bytes);
}

// The bytes go to a file beside the target that then replaces it, so a crash mid-write leaves
// the previous file (or none), never a truncated one.
void TgxProfile::WriteFileFrom(const std::string& file) const {
  const std::filesystem::path target = path::ToFs(file);
  std::filesystem::path temp = target;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw ProfileFileError("cannot create \"" + file + "\"");
    const Stream image = StoredImage();
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      throw ProfileFileError("cannot write \"" + file + "\"");
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    throw ProfileFileError("cannot replace \"" + file + "\": " + ec.message());
  }
}

bool TgxProfile::LoadStreamFromFile() {
  if (!Before(OnBeforeLoadFromFile)) return false;
  if (FFilePath.empty()) return false;
  EnsureFilePathSep();
  const std::string file = FFilePath + FFileName;
  if (!path::FileExists(file)) return false;
  ReadFileInto(file);
  After(OnAfterLoadFromFile);
  return true;
}

bool TgxProfile::LoadStreamFromFile(const std::string& strFilewithpath) {
  if (!path::FileExists(strFilewithpath)) return false;
  if (!Before(OnBeforeLoadFromFile)) return false;
  if (!path::FileExists(strFilewithpath)) return false;
  ReadFileInto(strFilewithpath);
  After(OnAfterLoadFromFile);
  return true;
}

bool TgxProfile::SaveStreamToFile() {
  if (!Before(OnBeforeSaveToFile)) return false;
  if (FFilePath.empty()) return false;
  EnsureFilePathSep();
  WriteFileFrom(FFilePath + FFileName);
  After(OnAfterSaveToFile);
  return true;
}

bool TgxProfile::SaveStreamToFile(const std::string& strFileWithPath) {
  std::string folder, name;
  path::SplitFolderAndName(strFileWithPath, folder, name);
  // A name without a folder is refused like an empty folder, rather than written wherever the
  // working folder happens to be.
  if (folder.empty() || (!path::FolderExists(folder) && !path::CreateOneFolder(folder)))
    return false;
  if (!Before(OnBeforeSaveToFile)) return false;
  WriteFileFrom(strFileWithPath);
  After(OnAfterSaveToFile);
  return true;
}

bool TgxProfile::PreSaveStreamToFile(const std::string& strFileWithPath) {
  std::string folder, name;
  path::SplitFolderAndName(strFileWithPath, folder, name);
  if (folder.empty() || (!path::FolderExists(folder) && !path::CreateOneFolder(folder)))
    return false;
  FFilePath = folder;
  FFileName = name;
  return true;
}

}  // namespace kv
