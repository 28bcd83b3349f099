#include <windows.h>

#include <shlobj.h>
#include <unzip.h>

#include <cstring>
#include <vector>

#include "dui/archive_name.h"
#include "dui/skin_manager.h"
#include "dui/skin_unpack.h"
#include "screens/string_table.h"

namespace dui {
namespace {

// minizip reading from a memory block.
struct memory_stream {
  const unsigned char* data;
  uLong size;
  uLong position;
};

voidpf ZCALLBACK mem_open(voidpf opaque, const char*, int) { return opaque; }

uLong ZCALLBACK mem_read(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* s = static_cast<memory_stream*>(stream);
  const uLong n = s->position < s->size ? std::min(size, s->size - s->position) : 0;
  std::memcpy(buffer, s->data + s->position, n);
  s->position += n;
  return n;
}

uLong ZCALLBACK mem_write(voidpf, voidpf, const void*, uLong) { return 0; }

long ZCALLBACK mem_tell(voidpf, voidpf stream) {
  return static_cast<long>(static_cast<memory_stream*>(stream)->position);
}

long ZCALLBACK mem_seek(voidpf, voidpf stream, uLong offset, int origin) {
  auto* s = static_cast<memory_stream*>(stream);
  uLong base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = s->position;
  if (origin == ZLIB_FILEFUNC_SEEK_END) base = s->size;
  if (offset > s->size || base > s->size - offset) return -1;
  s->position = base + offset;
  return 0;
}

int ZCALLBACK mem_close(voidpf, voidpf) { return 0; }
int ZCALLBACK mem_error(voidpf, voidpf) { return 0; }

std::wstring widen(const std::string& name, bool utf8) {
  const UINT code_page = utf8 ? CP_UTF8 : CP_ACP;
  const int n = MultiByteToWideChar(code_page, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  if (n > 0) MultiByteToWideChar(code_page, 0, name.data(), static_cast<int>(name.size()), &wide[0], n);
  return wide;
}

std::wstring full_path(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
  return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : std::wstring();
}

// Whether the resolved path lies below the folder: catches what the name
// rules cannot see, such as device names ("CON") that resolve elsewhere.
bool lies_inside(const std::wstring& folder, const std::wstring& path) {
  const std::wstring base = full_path(folder);
  const std::wstring target = full_path(path);
  if (base.empty() || target.size() <= base.size()) return false;
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, base.c_str(), static_cast<int>(base.size()),
                        target.c_str(), static_cast<int>(base.size())) == CSTR_EQUAL &&
         (base.back() == L'\\' || target[base.size()] == L'\\');
}

void create_folders(const std::wstring& folder, const std::wstring& relative, bool include_last) {
  size_t pos = 0;
  for (;;) {
    pos = relative.find(L'\\', pos);
    if (pos == std::wstring::npos) break;
    CreateDirectoryW((folder + relative.substr(0, pos)).c_str(), nullptr);
    ++pos;
  }
  if (include_last) CreateDirectoryW((folder + relative).c_str(), nullptr);
}

FILETIME entry_time(const unz_file_info64& info, const std::vector<uint8_t>& extra) {
  FILETIME result = {};
  uint32_t unix_time = 0;
  if (unix_mtime_from_extra(extra.data(), info.size_file_extra, &unix_time)) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(unix_time) + 11644473600ULL) * 10000000ULL;
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
  }
  FILETIME local;
  if (DosDateTimeToFileTime(HIWORD(info.dosDate), LOWORD(info.dosDate), &local)) {
    LocalFileTimeToFileTime(&local, &result);
  }
  return result;
}

bool write_entry(unzFile zip, const std::wstring& path, const unz_file_info64& info,
                 const std::vector<uint8_t>& extra) {
  // Only the archive bit of the DOS attributes is used: the high bits hold
  // a Unix mode, and a read-only or hidden file could not be overwritten at
  // the next start.
  const DWORD attributes = (info.external_fa & FILE_ATTRIBUTE_ARCHIVE) ? FILE_ATTRIBUTE_ARCHIVE
                                                                       : FILE_ATTRIBUTE_NORMAL;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // heal an earlier read-only copy
  if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE;
  char buffer[16384];
  int n = 0;
  while (ok && (n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
    DWORD written = 0;
    ok = WriteFile(file, buffer, static_cast<DWORD>(n), &written, nullptr) && written == static_cast<DWORD>(n);
  }
  if (n < 0) ok = false;
  if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;
  if (file != INVALID_HANDLE_VALUE) {
    const FILETIME time = entry_time(info, extra);
    SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
  }
  return ok;
}

}  // namespace

std::wstring default_skin_folder() {
  wchar_t appdata[MAX_PATH] = L"";
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appdata);
  return std::wstring(appdata) + L"\\zetoraskinres\\";
}

int unpack_skin_archive(const void* data, size_t size, const std::wstring& folder) {
  memory_stream stream{static_cast<const unsigned char*>(data), static_cast<uLong>(size), 0};
  zlib_filefunc_def io = {mem_open, mem_read, mem_write, mem_tell, mem_seek, mem_close, mem_error, &stream};
  unzFile zip = unzOpen2("skin", &io);
  if (!zip) return 0;
  int written = 0;
  unz_global_info64 global;
  if (unzGetGlobalInfo64(zip, &global) == UNZ_OK) {
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
      if (i > 0 && unzGoToNextFile(zip) != UNZ_OK) break;
      unz_file_info64 info;
      char name[1024];
      std::vector<uint8_t> extra(65536);
      if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, extra.data(),
                                  static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK) {
        continue;
      }
      const bool utf8_name = (info.flag & 0x800) != 0;
      const std::string stored(name, strnlen(name, sizeof name));
      const std::wstring relative = entry_path_inside_folder(widen(stored, utf8_name));
      if (relative.empty() || !lies_inside(folder, folder + relative)) continue;
      const bool directory = (info.external_fa & FILE_ATTRIBUTE_DIRECTORY) ||
                             (!stored.empty() && (stored.back() == '/' || stored.back() == '\\'));
      create_folders(folder, relative, directory);
      if (!directory && write_entry(zip, folder + relative, info, extra)) ++written;
    }
  }
  unzClose(zip);
  return written;
}

int unpack_skin_resource(ModuleHandle module, const std::wstring& folder) {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(198), L"ZIPRES");
  if (!resource) return 0;
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return 0;
  return unpack_skin_archive(data, SizeofResource(module, resource), folder);
}

bool start_skin(ModuleHandle module, const std::wstring& folder) {
  // The folder is written by the user's programs; it is never made the
  // current directory (a DLL search place on old systems). Skin files are
  // read by full path.
  CreateDirectoryW(folder.c_str(), nullptr);
  // A package that is missing or unreadable means a damaged executable; a
  // skin left in the folder by an earlier run is not this build's.
  if (unpack_skin_resource(module, folder) == 0) return false;
  skin_manager::release();
  LoadStringConfig(folder + L"StringConfig.xml");
  return skin_manager::instance()->load_skin(folder + L"skin.txt");
}

}  // namespace dui
