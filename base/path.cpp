#include "base/path.h"

#include <system_error>
#include <type_traits>

#include "base/utf16.h"

namespace kv::path {

bool IsSep(char c) { return c == '/' || c == kSep; }

bool EndsWithSep(std::string_view p) { return !p.empty() && IsSep(p.back()); }

std::string WithTrailingSep(std::string_view p) {
  std::string out(p);
  if (!EndsWithSep(out)) out += kSep;
  return out;
}

std::string Join(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  return WithTrailingSep(folder) + std::string(name);
}

void SplitFolderAndName(std::string_view p, std::string& folder, std::string& name) {
  std::size_t pos = std::string_view::npos;
  for (std::size_t i = p.size(); i-- > 0;)
    if (IsSep(p[i])) {
      pos = i;
      break;
    }
  if (pos == std::string_view::npos) {
    folder.clear();
    name = std::string(p);
  } else {
    // The folder ends in this host's own separator, whichever one the path used.
    folder = std::string(p.substr(0, pos)) + kSep;
    name = std::string(p.substr(pos + 1));
  }
}

std::filesystem::path ToFs(std::string_view p) {
  // Where paths are wide the conversion throws on malformed UTF-8 (a text from a file or a
  // record may hold some): it is replaced first. Elsewhere a path is bytes and passes unchanged.
  if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
    const std::string valid = ToValidUtf8(p);
    return std::filesystem::path(std::u8string(valid.begin(), valid.end()));
  }
  return std::filesystem::path(std::u8string(p.begin(), p.end()));
}

std::string FromFs(const std::filesystem::path& p) {
  const auto u8 = p.u8string();
  return std::string(u8.begin(), u8.end());
}

bool FolderExists(std::string_view p) {
  if (p.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(ToFs(p), ec);
}

bool FileExists(std::string_view p) {
  if (p.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(ToFs(p), ec);
}

bool CreateOneFolder(std::string_view p) {
  std::string trimmed(p);
  while (trimmed.size() > 1 && IsSep(trimmed.back())) trimmed.pop_back();
  std::error_code ec;
  std::filesystem::create_directory(ToFs(trimmed), ec);
  return FolderExists(trimmed);
}

}  // namespace kv::path
