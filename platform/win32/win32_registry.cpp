#include "platform/win32/win32_registry.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace kv::platform::win32 {
namespace {

HKEY RootHandle(RootKey root) {
  switch (root) {
    case RootKey::CurrentUser: return HKEY_CURRENT_USER;
    case RootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
    default: return nullptr;
  }
}

[[noreturn]] void Fail(const char* what, std::string_view name, LONG code) {
  throw RegistryError(std::string("registry: ") + what + " \"" + std::string(name) +
                      "\" failed: " + ErrorText(static_cast<unsigned long>(code)));
}

class Win32Key : public RegistryKey {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }

  std::optional<RegistryValue> QueryValue(std::string_view name) override {
    const std::wstring wname = Widen(name);
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &type, nullptr, &size);
    std::vector<std::uint8_t> data;
    // The value may grow between the two calls: ask again until the buffer fits.
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
      data.resize(size);
      DWORD got = size;
      rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &type,
                            data.empty() ? nullptr : data.data(), &got);
      if (rc == ERROR_SUCCESS) {
        data.resize(got);
        break;
      }
      if (rc == ERROR_MORE_DATA) size = got;
    }
    if (rc == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (rc != ERROR_SUCCESS) Fail("reading value", name, rc);
    RegistryValue value;
    value.rawType = type;
    value.kind = type == REG_BINARY  ? ValueKind::Binary
                 : type == REG_DWORD ? ValueKind::Dword
                                     : ValueKind::Other;
    value.data = std::move(data);
    return value;
  }

  void SetBinary(std::string_view name, std::span<const std::uint8_t> data) override {
    Set(name, REG_BINARY, data.data(), data.size());
  }

  void SetDword(std::string_view name, std::uint32_t value) override {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    Set(name, REG_DWORD, bytes, 4);
  }

  bool DeleteValue(std::string_view name) override {
    const LONG rc = RegDeleteValueW(key_, Widen(name).c_str());
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    if (rc != ERROR_SUCCESS) Fail("deleting value", name, rc);
    return true;
  }

  std::vector<std::string> ValueNames() override {
    std::vector<std::string> names;
    DWORD maxLen = 0;
    if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxLen, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      maxLen = 16383;
    std::wstring buffer(maxLen + 1, L'\0');
    for (DWORD i = 0;; ++i) {
      DWORD len = static_cast<DWORD>(buffer.size());
      const LONG rc =
          RegEnumValueW(key_, i, buffer.data(), &len, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {  // a longer name appeared meanwhile
        buffer.resize(buffer.size() * 2);
        --i;
        continue;
      }
      if (rc != ERROR_SUCCESS) Fail("listing values of", "key", rc);
      names.push_back(Narrow(std::wstring_view(buffer.data(), len)));
    }
    return names;
  }

 private:
  void Set(std::string_view name, DWORD type, const void* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) Fail("writing value", name, ERROR_INVALID_PARAMETER);
    const LONG rc = RegSetValueExW(key_, Widen(name).c_str(), 0, type,
                                   static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    if (rc != ERROR_SUCCESS) Fail("writing value", name, rc);
  }

  HKEY key_;
};

}  // namespace

Win32Registry::Win32Registry(std::string sandbox) : sandbox_(std::move(sandbox)) {}

std::unique_ptr<RegistryKey> Win32Registry::CreateKey(RootKey root, std::string_view path) {
  return Open(root, path, true);
}

std::unique_ptr<RegistryKey> Win32Registry::OpenKey(RootKey root, std::string_view path) {
  return Open(root, path, false);
}

std::unique_ptr<RegistryKey> Win32Registry::Open(RootKey root, std::string_view path, bool create) {
  HKEY rootKey = RootHandle(root);
  if (!rootKey || path.empty()) return nullptr;
  const std::wstring full =
      Widen(sandbox_.empty() ? std::string(path) : sandbox_ + "\\" + std::string(path));
  if (create) {
    // The store's own open: with the right to write, or not at all. A key the user may only read
    // (HKLM without rights, a key whose permissions say so) is a key that cannot be opened, and
    // the store's soft rules for that case apply.
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExW(rootKey, full.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    return rc == ERROR_SUCCESS ? std::make_unique<Win32Key>(key) : nullptr;
  }
  // Read and write where allowed; a key the user may only read opens read-only, and writes to it
  // then throw.
  for (REGSAM access : {KEY_READ | KEY_WRITE, KEY_READ}) {
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExW(rootKey, full.c_str(), 0, access, &key);
    if (rc == ERROR_SUCCESS) return std::make_unique<Win32Key>(key);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return nullptr;
    if (rc != ERROR_ACCESS_DENIED) Fail("opening key", path, rc);
  }
  return nullptr;
}

void Win32Registry::RemoveSandbox() {
  if (sandbox_.empty()) return;
  const std::wstring path = Widen(sandbox_);
  RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

}  // namespace kv::platform::win32
