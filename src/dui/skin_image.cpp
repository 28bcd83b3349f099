#include "dui/skin_image.h"

#include "dui/platform.h"

namespace dui {
namespace {

std::wstring& folder_storage() {
  static std::wstring folder;
  return folder;
}

bool g_prefer_double = false;

// A file name as the skin writes it, relative to the current directory or
// else to the skin folder; empty when neither has it.
// A relative name the skin folder holds is read from there first: the
// current directory may be the Downloads folder the installer started from.
std::wstring find_file(const std::wstring& file) {
  const std::wstring in_folder = skin_folder() + L"\\" + file;
  const bool relative = !file.empty() && file.find(L':') == std::wstring::npos && file[0] != L'\\' &&
                        file[0] != L'/';
  if (relative && !skin_folder().empty() && platform::file_exists(in_folder)) return in_folder;
  if (platform::file_exists(file)) return file;
  return platform::file_exists(in_folder) ? in_folder : std::wstring();
}

}  // namespace

void set_prefer_double_images(bool prefer) { g_prefer_double = prefer; }
bool prefer_double_images() { return g_prefer_double; }

std::wstring double_image_name(const std::wstring& file) {
  const size_t dot = file.rfind(L'.');
  if (dot == std::wstring::npos || file.find(L'\\', dot) != std::wstring::npos) return file + L"@2x";
  return file.substr(0, dot) + L"@2x" + file.substr(dot);
}

void set_skin_folder(const std::wstring& folder) { folder_storage() = folder; }
const std::wstring& skin_folder() { return folder_storage(); }

skin_image::~skin_image() { drop(); }

void skin_image::set_file(const std::wstring& file) {
  drop();
  file_ = file;
}

void skin_image::drop() {
  if (image_) platform::dispose_image(image_);
  image_ = nullptr;
  loaded_ = false;
}

void* skin_image::get() {
  if (loaded_) return image_;
  loaded_ = true;
  if (file_.empty()) return nullptr;
  if (g_prefer_double) {
    const std::wstring twice = find_file(double_image_name(file_));
    if (!twice.empty()) image_ = platform::load_image(twice, 2);
    if (image_) return image_;
  }
  std::wstring path = find_file(file_);
  if (path.empty()) path = skin_folder() + L"\\" + file_;
  image_ = platform::load_image(path);
  return image_;
}

int skin_image::width() { return get() ? platform::image_width(image_) : 0; }
int skin_image::height() { return get() ? platform::image_height(image_) : 0; }

}  // namespace dui
