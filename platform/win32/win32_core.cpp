#include "platform/win32/win32_core.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "platform/win32/wide.h"

namespace kv::platform::win32 {

std::string Win32Paths::ExecutableDir() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);  // truncated: a long path
  }
  const auto slash = buffer.find_last_of(L"\\/");
  return Narrow(slash == std::wstring::npos ? std::wstring() : buffer.substr(0, slash + 1));
}

std::string Win32Paths::DocumentsDir() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return {};
  std::string dir = Narrow(buffer);
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

std::string Win32Paths::DecodeUnmarkedText(std::string_view bytes) {
  if (bytes.empty()) return {};
  // Converted in pieces, since the length argument is an int; a piece ends on a line feed,
  // which is never the second byte of a double-byte character.
  std::wstring text;
  constexpr std::size_t kPiece = 1 << 20;
  for (std::size_t pos = 0; pos < bytes.size();) {
    std::size_t n = std::min(kPiece, bytes.size() - pos);
    if (pos + n < bytes.size()) {
      const std::size_t lf = bytes.substr(pos, n).rfind('\n');
      if (lf != std::string_view::npos) n = lf + 1;
    }
    const int in = static_cast<int>(n);
    const int out = MultiByteToWideChar(CP_ACP, 0, bytes.data() + pos, in, nullptr, 0);
    const std::size_t at = text.size();
    text.resize(at + static_cast<std::size_t>(out));
    if (out > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data() + pos, in, text.data() + at, out);
    pos += n;
  }
  return Narrow(text);
}

std::uint32_t Win32Clock::TickCount() { return GetTickCount(); }

LocalTime Win32Clock::Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void Win32DebugOutput::Write(std::string_view text) { OutputDebugStringW(Widen(text).c_str()); }

namespace {

class MutexGuard : public InstanceGuard {
 public:
  // A null mutex: it could not be created, and `problem` says why.
  MutexGuard(HANDLE mutex, std::string problem) : mutex_(mutex), problem_(std::move(problem)) {}
  ~MutexGuard() override {
    if (mutex_) {
      ReleaseMutex(mutex_);
      CloseHandle(mutex_);
    }
  }
  std::string Problem() const override { return problem_; }

 private:
  HANDLE mutex_;
  std::string problem_;
};

}  // namespace

std::unique_ptr<InstanceGuard> Win32SingleInstance::Acquire(std::string_view name) {
  const std::wstring wname = Widen(name);
  if (HANDLE existing = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, wname.c_str())) {
    CloseHandle(existing);
    return nullptr;
  }
  HANDLE mutex = CreateMutexW(nullptr, TRUE, wname.c_str());
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another process created it between our two calls.
    CloseHandle(mutex);
    return nullptr;
  }
  const DWORD error = mutex ? 0 : GetLastError();
  if (error == ERROR_ACCESS_DENIED) return nullptr;  // held by another user's process
  return std::make_unique<MutexGuard>(
      mutex, mutex ? "" : "the mutex could not be created (error " + std::to_string(error) + ")");
}

void Win32MessageBoxes::ShowError(std::string_view text, std::string_view caption) {
  MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(),
              MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace kv::platform::win32
