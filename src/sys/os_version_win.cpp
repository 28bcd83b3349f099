#include "sys/os_version_win.h"

#include <windows.h>

OsVersionData QueryOsVersion() {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  OsVersionData version;
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return version;
  version.queried = true;
  version.platformId = info.dwPlatformId;
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  version.build = info.dwBuildNumber;
  version.servicePackMajor = info.wServicePackMajor;
  version.productType = info.wProductType;
  return version;
}
