#pragma once

#include <cstdint>

#include "sys/os_version.h"

// The reported OS code: 100-103 XP, 104-106 Server 2003, 110-112 Vista,
// 120-122 Server 2008, 130 Windows 7, 123 Server 2008 R2; 0 for anything else
// (a failed query, non-NT, older or newer versions, unlisted service packs).
int OsCodeFor(const OsVersionData& version);

// The reported OS build: the build number, 0 when the query failed.
std::uint32_t OsBuildFor(const OsVersionData& version);
