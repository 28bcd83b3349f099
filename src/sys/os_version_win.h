#pragma once

#include "sys/os_version.h"

// GetVersionExW with the extended record; queried is false when it fails.
OsVersionData QueryOsVersion();
