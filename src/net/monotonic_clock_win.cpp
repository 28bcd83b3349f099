#include <windows.h>

#include "net/monotonic_clock.h"

namespace net {

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

// GetTickCount64 where the system has it; resolved at run time so that the
// program still starts on systems without it.
TickCount64Function ResolveTickCount64() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return nullptr;
  return reinterpret_cast<TickCount64Function>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "GetTickCount64")));
}

}  // namespace

std::uint64_t MonotonicMs() {
  static const TickCount64Function tickCount64 = ResolveTickCount64();
  if (tickCount64) return tickCount64();
  static TickExtender extender;
  return extender.Extend(GetTickCount());
}

}  // namespace net
