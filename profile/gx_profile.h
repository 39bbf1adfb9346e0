#pragma once
// TgxProfile: one record image in memory, moved whole between memory, one binary registry value
// and one file. It knows nothing of the record's layout; its owner writes and reads whole
// records and installs the handler that writes the defaults.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kv {

class TgxProfile {
 public:
  // The record image. Handlers get it by reference and may replace its contents wholesale.
  using Stream = std::vector<std::uint8_t>;
  using TgxProfileOnRestoreToDefault = std::function<void(Stream& AStream)>;
  using TgxProfileEvent = std::function<void(Stream& AStream, bool& bContinue)>;
  using TgxProfileEvent2 = std::function<void(Stream& AStream)>;

  explicit TgxProfile(platform::Registry& registry);

  platform::RootKey RootKey() const { return FRootKey; }
  void SetRootKey(platform::RootKey value) { FRootKey = value; }
  const std::string& KeyPath() const { return FKeyPath; }
  void SetKeyPath(std::string_view value) { FKeyPath = value; }
  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string_view value) { FFileName = value; }
  const std::string& FilePath() const { return FFilePath; }
  // Taken only when it names an existing folder; stored with a trailing separator.
  void SetFilePath(std::string_view value);
  std::int64_t Size() const { return FSize; }
  // Resizes the image (new bytes zero) when the value differs from the current one.
  void SetSize(std::int64_t value);

  // Bytes of the record that carry no data in storage (a place for run-time references): every
  // save writes zeros there, whatever the image holds. Loads take the stored bytes as they are.
  // Empty by default.
  void SetUnstoredBytes(std::size_t offset, std::size_t count) {
    unstoredOffset_ = offset;
    unstoredCount_ = count;
  }

  // Copies Count bytes over the start of the image, growing it when it is shorter.
  int Write(const void* Buffer, int Count);
  // Copies up to Count bytes from the start of the image; returns how many it copied.
  int Read(void* Buffer, int Count) const;
  void RestoreToDefault();

  // False: cancelled, unusable settings, or no such value. Throws platform::RegistryError when
  // the value is not binary or the store fails.
  [[nodiscard]] bool LoadStreamFromRegistry();
  [[nodiscard]] bool SaveStreamToRegistry();
  // False: cancelled, no folder set, or no such file. Throws ProfileFileError when the file
  // exists but cannot be read, or cannot be written.
  [[nodiscard]] bool LoadStreamFromFile();
  [[nodiscard]] bool LoadStreamFromFile(const std::string& strFilewithpath);
  [[nodiscard]] bool SaveStreamToFile();
  [[nodiscard]] bool SaveStreamToFile(const std::string& strFileWithPath);
  // Creates the file's folder (one level) and remembers folder and name for a later save.
  [[nodiscard]] bool PreSaveStreamToFile(const std::string& strFileWithPath);

  // The image itself, for the owner's handlers and for inspection.
  Stream& MemoryStream() { return FMemoryStream; }
  const Stream& MemoryStream() const { return FMemoryStream; }

  TgxProfileOnRestoreToDefault OnRestoreToDefault;
  TgxProfileEvent OnBeforeSaveToRegistry, OnBeforeSaveToFile;
  TgxProfileEvent OnBeforeLoadFromRegistry, OnBeforeLoadFromFile;
  TgxProfileEvent2 OnAfterSaveToRegistry, OnAfterSaveToFile;
  TgxProfileEvent2 OnAfterLoadFromRegistry, OnAfterLoadFromFile;

 private:
  bool Before(const TgxProfileEvent& event);
  void After(const TgxProfileEvent2& event);
  bool RegistryUsable() const;
  void EnsureFilePathSep();
  void ReadFileInto(const std::string& file);
  void WriteFileFrom(const std::string& file) const;
  // The image as it is stored: the unstored bytes zero.
  Stream StoredImage() const;

  platform::Registry& registry_;
  Stream FMemoryStream;
  platform::RootKey FRootKey = platform::RootKey::None;
  std::string FKeyPath;
  std::string FFileName;
  std::string FFilePath;
  std::int64_t FSize = 0;
  std::size_t unstoredOffset_ = 0, unstoredCount_ = 0;
};

}  // namespace kv
