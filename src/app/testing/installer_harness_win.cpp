#include "app/testing/installer_harness_win.h"

#include <shlobj.h>

#include <sstream>

#include "sys/testing/test_files_win.h"
#include "sys/testing/test_process_win.h"

namespace {

std::wstring InstallerPath(const std::wstring& installer) {
  return installer.empty() ? WinePath(ZETORA_INSTALLER_WIDE_PATH) : installer;
}

}  // namespace

std::string InstallerRunResult::EndLine() const {
  for (const Json::Value& report : reports) {
    const std::string line = report["line"].asString();
    if (ValueOf(line, "src") == "End") return line;
  }
  return "";
}

std::string InstallerRunResult::FinalMap() const {
  return reports.empty() ? "" : reports.back()["line"].asString();
}

std::vector<std::string> InstallerRunResult::Stats() const {
  std::vector<std::string> stats;
  for (const std::string& running : SplitText(ValueOf(FinalMap(), "p_trc"), '/')) {
    stats.push_back(running.substr(0, running.find(':')));
  }
  return stats;
}

InstallerRunResult RunInstallerTagged(CollectorClient& collector, const std::wstring& tn,
                                      const std::wstring& arguments, DWORD timeoutMs,
                                      const std::wstring& installer) {
  const std::string tag = std::to_string(GetCurrentProcessId()) + std::to_string(GetTickCount());
  InstallerRunResult result;
  result.exitCode = RunProgram(L"\"" + InstallerPath(installer) + L"\" " + arguments + L" -tn " +
                                   tn + L" -rnd " + std::wstring(tag.begin(), tag.end()),
                               timeoutMs, &result.diagnostics);
  const std::string from = " From=" + std::string(tn.begin(), tn.end()) + " ";
  for (const Json::Value& report : collector.Reports()) {
    const std::string header = report["header"].asString();
    if (header.find(from) != std::string::npos &&
        header.find(" Rnd=" + tag + " ") != std::string::npos) {
      result.reports.push_back(report);
    }
  }
  return result;
}

HANDLE StartInstaller(const std::wstring& tn, const std::wstring& arguments,
                      const std::wstring& installer) {
  std::wstring commandLine = L"\"" + InstallerPath(installer) + L"\" " + arguments + L" -tn " + tn;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

namespace {

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

}  // namespace

std::wstring DamagedSkinInstallerCopy() {
  const std::wstring copy = TempFileName(L"zdmg") + L".exe";
  if (!CopyFileW(InstallerPath(L"").c_str(), copy.c_str(), FALSE)) return L"";
  // The package is replaced in whatever language the build stored it.
  std::vector<WORD> languages;
  HMODULE image = LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (image == nullptr) return L"";
  EnumResourceLanguagesW(image, L"ZIPRES", MAKEINTRESOURCEW(198), AddLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  FreeLibrary(image);
  HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
  if (update == nullptr || languages.empty()) return L"";
  static char kNotAnArchive[] = "PK\x03\x04 this is not the skin package";
  bool replaced = true;
  for (WORD language : languages) {
    replaced = UpdateResourceW(update, L"ZIPRES", MAKEINTRESOURCEW(198), language, kNotAnArchive,
                               sizeof(kNotAnArchive)) != FALSE && replaced;
  }
  return EndUpdateResourceW(update, FALSE) && replaced ? copy : L"";
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) parts.push_back(part);
  return parts;
}

std::string ValueOf(const std::string& line, const std::string& key) {
  for (const std::string& pair : SplitText(line, ' ')) {
    if (pair.compare(0, key.size() + 1, key + "=") == 0) return pair.substr(key.size() + 1);
  }
  return "";
}

std::wstring TestInstallerDirectory() {
  wchar_t appData[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
  return std::wstring(appData) + L"\\Vexlo\\ZetoraBrowserInstaller";
}
