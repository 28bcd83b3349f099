// Unpacking the skin package (resource "ZIPRES" 198) into the per-user skin
// folder and loading it: the skin start-up of the user-interface thread.
#pragma once

#include <cstddef>
#include <string>

#include "dui/dui_types.h"

namespace dui {

// The roaming application-data folder followed by "\zetoraskinres\".
std::wstring default_skin_folder();

// Writes every entry of a ZIP archive held in memory below the folder (which
// ends with a backslash and exists). Entries whose names would leave the
// folder are skipped. Returns the number of files written.
int unpack_skin_archive(const void* data, size_t size, const std::wstring& folder);

// Finds the "ZIPRES" 198 resource of the module and unpacks it.
int unpack_skin_resource(ModuleHandle module, const std::wstring& folder);

// The start-up of the user-interface thread: creates the folder and makes it
// the current directory, unpacks the module's skin package, loads the text
// override file and skin.txt into a fresh registry. False when the package
// is missing or unreadable, else load_skin's result.
bool start_skin(ModuleHandle module, const std::wstring& folder);

}  // namespace dui
