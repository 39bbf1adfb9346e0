#pragma once
// TDM: the profile manager. Owns the storage of the five mouse profiles, the all-profiles
// record, the profile group record and the recorded-macro record, loads them at construction
// and offers the operations with which the monitor and the configurator load, switch, save,
// reset and maintain them. Main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "profile/gx_profile.h"
#include "profile/options.h"
#include "profile/records.h"

namespace kv {

// Which HID interface of the mouse the monitor opens.
struct THidInterfaceSelector {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
};
// The mouse's vendor-defined control collection.
inline constexpr THidInterfaceSelector kMouseControlSelector{1, 0xFFA0};

// Where a profile lives, as its entry in the group record says.
enum class TProfileStorage { Registry, File, None };

class TDM {
 public:
  // Runs the start-up sequence. A stored record that the sequence cannot accept (a group index
  // outside 0 to 1, a store or file error) ends the sequence where it happened; the error is
  // kept in StartupError() for the owner to report. The storage components are bound to their
  // records before anything can fail, so the manager stays usable with what was loaded so far:
  // a record that start-up did not reach behaves as a missing one (false results, defaults),
  // an index outside its range as a range error.
  // `debug` (optional) hears what the manager had to adjust, such as a text cut to its field.
  // `firstLanguage` is the CurrentLanguage that a default all-profiles record gets: 0 where the
  // configurator chooses the language later, the user's own where nothing else would (Linux).
  TDM(platform::Registry& registry, platform::Paths& paths, platform::Clock& clock,
      BYTE firstLanguage = 0, platform::DebugOutput* debug = nullptr);
  explicit TDM(platform::Platform& platform, BYTE firstLanguage = 0);
  ~TDM();
  TDM(const TDM&) = delete;
  TDM& operator=(const TDM&) = delete;

  // Empty when start-up ran to its end.
  const std::string& StartupError() const { return startupError_; }

  // Loading. None of them saves the in-memory records first.
  void LoadProfileGroupSettingInfoFromRegistry();
  void LoadAllProfileInfoFromRegistry();
  [[nodiscard]] bool LoadCurrentProfileInfoFromRegistry();
  [[nodiscard]] bool LoadCurrentProfileInfoFromFile(const std::string& AFile);
  [[nodiscard]] bool LoadProfileInfoFromRegistry(int AProfileIndex);
  void LoadRecordMacroInfoFromRegistry();
  [[nodiscard]] bool ReadCurrentProfileInfo();
  [[nodiscard]] bool ReadProfileInfo(TMouseProfileInfo& AProfileInfo, int AProfileIndex);

  // Where profile AProfileIndex is stored (registry value, file, or nowhere); a range error for
  // an index outside 0 to 4.
  TProfileStorage ProfileStorage(int AProfileIndex) const;

  // Switching: memory only, nothing is saved.
  [[nodiscard]] bool SwitchToProfile(int AProfileIndex);
  [[nodiscard]] bool SwitchToProfileGroup(int AProfileGroupIndex);

  static bool IsProfileIndexInRange(int AProfileIndex);
  static bool IsProfileGroupIndexInRange(int AProfileGroupIndex);

  // Folders below the documents folder, created when missing (ProfileFileError when that
  // fails or there is no documents folder).
  std::string GetPersonalDocumentProfilePath();
  std::string GetPersonalDocumentMacroDatabasePath();

  // Saving.
  void SaveBackToCurrentProfileInfo();
  void SaveCurrentProfileInfoToRegistry();
  void SaveCurrentProfileInfoToFile(const std::string& AFile);
  void SaveCurrentProfileInfoToFile();
  [[nodiscard]] bool SaveBackToProfileInfo(const TMouseProfileInfo& AProfileInfo,
                                           int AProfileIndex);
  [[nodiscard]] bool SaveProfileInfoToRegistry(int AProfileIndex);
  void SaveBackAllProfileInfo();
  void SaveBackAllProfileInfoToRegistry();
  void SaveBackAllProfileInfoToFile();
  void SaveBackAllProfileSettingInfo();
  void SaveBackToProfileGroupSettingInfo();
  void SaveProfileGroupSettingInfoToRegistry();
  void SaveBackRecordMacroInfoToRegistry(const TMACROKEYINFO& ARecordMacroInfo);
  // Saves the image of profile AProfileIndex where its entry of the group record says it lives:
  // its registry value, or its file (whose folder is created when missing). False for an
  // invalid index, a profile stored nowhere, or a save the component refused.
  [[nodiscard]] bool SaveProfileInfo(int AProfileIndex);

  // Assigns function AFunctionCode to button AButton of profile AProfileIndex as the configurator
  // writes it (see AssignFunction in profile/records.h), in the profile's component and, when it
  // is the current profile, in FCurrentProfileInfo too. Nothing is saved. False, with nothing
  // changed, for an invalid profile, button or code, or a key function without a key.
  [[nodiscard]] bool AssignButtonFunction(int AProfileIndex, int AButton, int AFunctionCode,
                                          WORD AKeyCode = 0);

  // Restoring defaults. Only RestoreProfileSettingGroupToDefault saves.
  void RestoreCurrentProfileInfoToDefault();
  void RestoreAllProfileInfoToDefault();
  [[nodiscard]] bool RestoreProfileInfoToDefault(int AProfileIndex);
  [[nodiscard]] bool RestoreProfileGroupToDefault(int AProfileGroupIndex);
  void RestoreProfileSettingGroupToDefault();
  void RestoreToDefaultCPISetting();
  void RestoreToDefaultLightAndReportAdvancedSetting();
  void InitTestDefaultValue();

  // Change flags: set by the save-back and restore operations, cleared only by the caller.
  void SetProfileChanged(int AIndex, bool AIsChanged);
  bool IsProfileChanged(int AIndex) const;

  // Maintenance.
  [[nodiscard]] bool ChangeCurrentProfileFileNameAndPath(const std::string& AProfileFilePath);
  std::vector<int> GetAllProfilesMacroIndexList();

  // Storage components.
  std::unique_ptr<TgxProfile> gxProfileAllSettingInfo;
  std::unique_ptr<TgxProfile> gxProfileGame1, gxProfileGame2, gxProfileGame3, gxProfileGame4,
      gxProfileGame5;
  std::unique_ptr<TgxProfile> gxProfileSettingGroup;
  std::unique_ptr<TgxProfile> gxProfileDefaultGame;
  std::unique_ptr<TgxProfile> gxProfileTest;
  std::unique_ptr<TgxProfile> gxProfileRecordMacroInfo;

  TALLGAMESINFO FAllProfileSettingInfo{};
  TgxProfile* FProfileGroup[kProfileCount]{};
  bool FProfileChanged[kProfileCount]{};
  TProfileSettingGroup FProfileSettingGroup{};
  int FProfileGroupIndex = 0;
  int FProfileIndex = 0;
  TMouseProfileInfo FCurrentProfileInfo{};
  TOtherConfig FOtherConfig;
  TMouseProfileInfo FDefaultProfileInfo{};
  TMouseProfileInfo FTestProfileInfo{};
  TMACROKEYINFO FRecordMacroInfo{};
  TOptionsFromConfigFile FOptionsFromConfigFile;
  THidInterfaceSelector FHidSelector;

  // Default handlers, installed as OnRestoreToDefault of the storage components. Each first
  // grows a short image to its record's size with zero bytes.
  void gxProfileGame1RestoreToDefault(TgxProfile::Stream& AStream);
  void gxProfileGame2RestoreToDefault(TgxProfile::Stream& AStream);
  void gxProfileGame3RestoreToDefault(TgxProfile::Stream& AStream);
  void gxProfileGame4RestoreToDefault(TgxProfile::Stream& AStream);
  void gxProfileGame5RestoreToDefault(TgxProfile::Stream& AStream);
  void gxProfileTestRestoreToDefault(TgxProfile::Stream& AStream);
  void gxProfileSettingGroupRestoreToDefault(TgxProfile::Stream& AStream);
  void gxProfileAllSettingInfoRestoreToDefault(TgxProfile::Stream& AStream);

 private:
  void DataModuleCreate();
  void SetUpRecord(TgxProfile& component, const char* valueName, const void* image, int size);
  // Gives profile i's component the value and file names of its entry in FProfileSettingGroup.
  void NameProfile(int i);
  void LoadProfileAtStartUp(int i);
  // The file of profile i as its entry names it: ProfileFilePath, a separator, ProfileFileName;
  // "" when the entry names no folder.
  std::string ProfileFile(int i) const;
  // Writes `text` into a record's text field, cut at the field (terminator kept) when it is too
  // long; a cut is traced when `trace` is set.
  void WriteText(char16_t* field, std::size_t units, const std::string& text, const char* what,
                 bool trace);
  void Trace(const std::string& text);
  // Storage of a profile; ProfileRangeError for an index outside 0 to 4.
  TgxProfile& ProfileAt(int index);
  void CopyOut(const TgxProfile& component, void* record, int size);
  void WriteGameDefaults(TgxProfile::Stream& AStream, int cpiIndex, BYTE r, BYTE g, BYTE b);
  double NowAsDateTime();

  platform::Registry& registry_;
  platform::Paths& paths_;
  platform::Clock& clock_;
  BYTE firstLanguage_;
  platform::DebugOutput* debug_;
  std::string startupError_;
  // Set once the profile components carry the names of a group record that passed its checks.
  bool profilesNamed_ = false;
};

}  // namespace kv
