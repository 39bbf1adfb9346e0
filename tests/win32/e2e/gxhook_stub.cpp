// Stands in for the external hook library beside KVMON.EXE in the end-to-end runs: the four
// entry points exist and install nothing.
#include <cstdint>

extern "C" {
__declspec(dllexport) void EnableKeyboardHook(void*, void*, std::int32_t) {}
__declspec(dllexport) void DisableKeyboardHook() {}
__declspec(dllexport) void EnableMouseHook(void*, void*, std::int32_t) {}
__declspec(dllexport) void DisableMouseHook() {}
}
