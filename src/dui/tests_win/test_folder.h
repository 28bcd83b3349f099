// A fresh temporary folder for one test, removed afterwards.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace dui {

class test_folder {
 public:
  explicit test_folder(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + name + L"_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    remove();
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~test_folder() { remove(); }
  const std::wstring& path() const { return path_; }

 private:
  void remove() {
    std::wstring from = path_.substr(0, path_.size() - 1);
    from.push_back(L'\0');  // double-terminated list
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
  }
  std::wstring path_;
};

}  // namespace dui
