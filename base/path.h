#pragma once
// Paths inside the program are UTF-8 strings in the host's own form. The store keeps folders with
// a trailing separator, as the records and the configurator expect; on Windows that is "\",
// elsewhere "/".
#include <filesystem>
#include <string>
#include <string_view>

namespace kv::path {

// The host's own separator, as its standard library knows it.
inline constexpr char kSep = static_cast<char>(std::filesystem::path::preferred_separator);

// "/" is a separator everywhere; the host's own one (Windows' "\") as well.
bool IsSep(char c);
bool EndsWithSep(std::string_view p);
std::string WithTrailingSep(std::string_view p);
// "a" + "b" with one separator between them.
std::string Join(std::string_view folder, std::string_view name);
// Splits at the last separator: folder ends in kSep ("" when there is no separator).
void SplitFolderAndName(std::string_view p, std::string& folder, std::string& name);

// UTF-8 string <-> std::filesystem::path without the host's narrow code page getting in between.
// ToFs never throws: where paths are wide (Windows), malformed UTF-8 becomes U+FFFD.
std::filesystem::path ToFs(std::string_view p);
std::string FromFs(const std::filesystem::path& p);

bool FolderExists(std::string_view p);
bool FileExists(std::string_view p);
// Creates one folder (its parent must exist). True when it exists afterwards.
bool CreateOneFolder(std::string_view p);

}  // namespace kv::path
