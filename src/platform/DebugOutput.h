#pragma once

// The debugger trace line and the registry read of interface names.

#include "platform/WinTypes.h"

#include <functional>
#include <string_view>

// Sends lpOutputString to the debugger: standard error while a debugger is
// attached (TracerPid in /proc/self/status), nowhere otherwise. An installed
// sink receives every line instead.
void OutputDebugStringA(const char* lpOutputString);

using DebugOutputSink = std::function<void(std::string_view line)>;
// Installs a sink for tests; an empty function restores the default. Returns
// the previous sink.
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);

using HKEY = struct HKEY__*;
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000u});
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_MORE_DATA = 234;

// Reads the default value of a key. Only HKEY_CLASSES_ROOT\Interface\{IID}
// of the interfaces this program knows exists (a built-in table). On entry
// *lpcbData is the buffer size in bytes, on return the bytes of the value
// with its terminator; ERROR_MORE_DATA when the buffer is too small.
LONG RegQueryValueA(HKEY hKey, const char* lpSubKey, char* lpData, LONG* lpcbData);
