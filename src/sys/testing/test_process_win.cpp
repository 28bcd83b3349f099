#include "sys/testing/test_process_win.h"

#include "sys/testing/test_files_win.h"

DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs, std::string* output) {
  const std::wstring logPath = TempFileName(L"zrp");
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE log = CreateFileW(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = log;
  startup.hStdError = log;
  std::wstring mutableLine = commandLine;
  PROCESS_INFORMATION process = {};
  DWORD code = STILL_ACTIVE;
  if (CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process.hProcess, &code);
    } else {
      TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(log);
  *output = ReadWholeFile(logPath);
  DeleteFileW(logPath.c_str());
  return code;
}
