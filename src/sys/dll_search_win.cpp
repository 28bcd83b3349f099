#include "sys/dll_search_win.h"

#include <delayimp.h>

#include <string>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32; the XP headers leave it out.
const DWORD kSearchSystem32 = 0x00000800;

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return folder;
}

FARPROC WINAPI DelayLoadHook(unsigned notice, PDelayLoadInfo info) {
  if (notice != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
  std::wstring name;
  for (const char* c = info->szDll; *c != '\0'; ++c) name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return reinterpret_cast<FARPROC>(LoadSystemLibrary(name.c_str()));
}

}  // namespace

void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault == nullptr || !setDefault(kSearchSystem32)) {
    const auto setDirectory = reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
    if (setDirectory != nullptr) setDirectory(L"");
  }
  __pfnDliNotifyHook2 = DelayLoadHook;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  const std::wstring folder = SystemFolder();
  if (!folder.empty()) {
    const std::wstring path = folder + L"\\" + name;
    if (HMODULE module = LoadLibraryW(path.c_str())) return module;
    // A DLL that is in the system folder but would not load is not looked
    // for anywhere else.
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return nullptr;
  }
  return LoadLibraryW(name);
}
