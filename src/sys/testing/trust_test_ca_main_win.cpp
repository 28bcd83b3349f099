// zetora_trust_test_ca <certificate.der>: makes the running Wine prefix
// trust the build's test certificate authority (tests, demo). The path may be
// a Windows path or the build machine's absolute path. Exit code 0 when the
// certificate is in the Root store.
#include <windows.h>

#include <cstdio>

#include "sys/testing/test_files_win.h"
#include "sys/testing/trusted_root_win.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: zetora_trust_test_ca <certificate.der>\n");
    return 2;
  }
  const std::wstring path = argv[1][0] == L'/' ? WinePath(argv[1]) : argv[1];
  if (!TrustRootCertificate(path)) {
    std::fwprintf(stderr, L"zetora_trust_test_ca: cannot add %ls\n", argv[1]);
    return 1;
  }
  return 0;
}
