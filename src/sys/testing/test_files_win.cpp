#include "sys/testing/test_files_win.h"

#include <windows.h>

std::string ReadWholeFile(const std::wstring& path) {
  std::string data;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return data;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) data.append(buffer, read);
  CloseHandle(file);
  return data;
}

std::wstring TempFileName(const wchar_t* prefix) {
  wchar_t dir[MAX_PATH] = {};
  wchar_t path[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, prefix, 0, path);
  return path;
}

namespace {

// Deletes everything inside dir, subdirectories included.
void EmptyDirectory(const std::wstring& dir) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = dir + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EmptyDirectory(path);
      RemoveDirectoryW(path.c_str());
    } else {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace

// Process ids are reused, so the directory may hold an earlier run's files.
std::wstring MakeTestDirectory(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring dir = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);
  EmptyDirectory(dir);
  return dir;
}

std::wstring WinePath(const std::wstring& unixPath) {
  std::wstring path = L"Z:" + unixPath;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}
