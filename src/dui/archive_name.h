// Names of skin archive entries: where an entry may be written inside the
// skin folder, and the modification time an entry carries.
#pragma once

#include <cstdint>
#include <string>

namespace dui {

// Applies the archive's name rules: strips drive prefixes, leading
// separators and leading "../" or "..\", and drops everything up to a
// parent-folder step inside the name. At most 260 characters are kept.
std::wstring sanitize_entry_name(const std::wstring& stored);

// The sanitised name as a path relative to the skin folder (backslash
// separated), or empty when the entry must not be written: its path would
// leave the folder or name the folder itself, or it holds a ':' (a stream or
// device name on Windows) or a control character.
std::wstring entry_path_inside_folder(const std::wstring& stored);

// The modification time (Unix seconds) from an entry's "UT" extra field,
// when the field is present and carries one.
bool unix_mtime_from_extra(const uint8_t* extra, size_t size, uint32_t* mtime);

}  // namespace dui
