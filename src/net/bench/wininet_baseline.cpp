// The platform's own limit for make bench: one plain WinINet request
// (InternetOpenUrlW and an InternetReadFile loop with a 1 MiB buffer) into a
// file. Prints "result=%lu ms=%lu bytes=%lu" (result 0 or the error).
//   wininet_baseline <url> <file>
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "sys/scoped_handle_win.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wininet_baseline <url> <file>\n");
    return 2;
  }
  const DWORD start = GetTickCount();
  DWORD error = 0;
  unsigned long total = 0;
  ScopedInternetHandle session(
      InternetOpenW(L"baseline", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  ScopedInternetHandle request(
      session.IsValid()
          ? InternetOpenUrlW(session.Get(), argv[1], nullptr, 0,
                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
          : nullptr);
  ScopedHandle file(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!request.IsValid() || !file.IsValid()) {
    error = GetLastError();
  } else {
    std::vector<char> buffer(1 << 20);
    DWORD read = 0;
    while (InternetReadFile(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                            &read) &&
           read > 0) {
      DWORD written = 0;
      if (!WriteFile(file.Get(), buffer.data(), read, &written, nullptr)) {
        error = GetLastError();
        break;
      }
      total += read;
    }
  }
  std::printf("result=%lu ms=%lu bytes=%lu\n", error, GetTickCount() - start, total);
  return error == 0 ? 0 : 1;
}
