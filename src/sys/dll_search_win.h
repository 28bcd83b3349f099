#pragma once

#include <windows.h>

// The installer runs from a Downloads folder that other downloads write
// into, so no DLL may ever be loaded from the program's folder or the
// current directory: DLLs that are not KnownDLLs are delay-loaded, and every
// load goes to the system folder by its full path.

// Limits the DLL search of this process to the system folder
// (SetDefaultDllDirectories where the system has it, else SetDllDirectoryW
// with an empty string, which drops the current directory) and sends every
// delay-loaded import to LoadSystemLibrary. The first call of wWinMain,
// before anything delay-loaded is used.
void RestrictDllSearch();

// Loads a DLL of the system folder by its full path. Only where the system
// keeps the DLL elsewhere (GDI+ on XP lives in the side-by-side store) is the
// bare name tried, after the search was limited as above.
HMODULE LoadSystemLibrary(const wchar_t* name);
