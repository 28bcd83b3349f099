#include "dui/skin_image.h"

#include "dui/platform.h"

namespace dui {
namespace {

std::wstring& folder_storage() {
  static std::wstring folder;
  return folder;
}

}  // namespace

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
  std::wstring path = file_;
  if (!platform::file_exists(path)) path = skin_folder() + L"\\" + file_;
  image_ = platform::load_image(path);
  return image_;
}

int skin_image::width() { return get() ? platform::image_width(image_) : 0; }
int skin_image::height() { return get() ? platform::image_height(image_) : 0; }

}  // namespace dui
