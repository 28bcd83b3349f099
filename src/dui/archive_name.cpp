#include "dui/archive_name.h"

#include <vector>

namespace dui {
namespace {

constexpr size_t kMaxEntryName = 260;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Step 2 of the rules: strip drive prefixes, single separators and (so that
// "../x" cannot climb) leading parent-folder steps, until none is left.
void strip_front(std::wstring* name) {
  for (;;) {
    if (name->size() >= 2 && (*name)[1] == L':') {
      name->erase(0, 2);
    } else if (!name->empty() && is_separator((*name)[0])) {
      name->erase(0, 1);
    } else if (name->size() >= 3 && (*name)[0] == L'.' && (*name)[1] == L'.' &&
               is_separator((*name)[2])) {
      name->erase(0, 3);
    } else {
      return;
    }
  }
}

}  // namespace

std::wstring sanitize_entry_name(const std::wstring& stored) {
  std::wstring name = stored.substr(0, kMaxEntryName);
  static const wchar_t* const kClimbs[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
  for (;;) {
    strip_front(&name);
    size_t found = std::wstring::npos;
    for (const wchar_t* climb : kClimbs) {
      found = name.find(climb);
      if (found != std::wstring::npos) break;
    }
    if (found == std::wstring::npos) return name;
    name.erase(0, found + 4);
  }
}

std::wstring entry_path_inside_folder(const std::wstring& stored) {
  const std::wstring name = sanitize_entry_name(stored);
  std::vector<std::wstring> parts;
  std::wstring part;
  for (size_t i = 0; i <= name.size(); ++i) {
    const wchar_t c = i < name.size() ? name[i] : L'/';
    if (c == L':' || (c != 0 && c < 0x20)) return std::wstring();
    if (!is_separator(c)) {
      part.push_back(c);
      continue;
    }
    if (part == L"..") {
      if (parts.empty()) return std::wstring();
      parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    part.clear();
  }
  std::wstring path;
  for (const std::wstring& p : parts) {
    if (!path.empty()) path += L'\\';
    path += p;
  }
  return path;
}

bool unix_mtime_from_extra(const uint8_t* extra, size_t size, uint32_t* mtime) {
  size_t pos = 0;
  while (pos + 4 <= size) {
    const unsigned tag = extra[pos] | (extra[pos + 1] << 8);
    const size_t length = extra[pos + 2] | (extra[pos + 3] << 8);
    const size_t data = pos + 4;
    if (data + length > size) return false;
    // "UT": one flags byte, then the modification time when bit 0 is set.
    if (tag == 0x5455 && length >= 5 && (extra[data] & 1)) {
      *mtime = static_cast<uint32_t>(extra[data + 1]) | (static_cast<uint32_t>(extra[data + 2]) << 8) |
               (static_cast<uint32_t>(extra[data + 3]) << 16) |
               (static_cast<uint32_t>(extra[data + 4]) << 24);
      return true;
    }
    pos = data + length;
  }
  return false;
}

}  // namespace dui
