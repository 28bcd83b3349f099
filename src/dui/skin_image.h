// An image named by file name in the skin, loaded on first use.
#pragma once

#include <string>

namespace dui {

// The folder of the loaded skin.txt: where images not found relative to the
// current directory are looked for.
void set_skin_folder(const std::wstring& folder);
const std::wstring& skin_folder();

// Above 125 % the windows draw "name@2x.png" where the skin has one for
// "name.png" (images loaded afterwards).
void set_prefer_double_images(bool prefer);
bool prefer_double_images();
// "btn.png" -> "btn@2x.png".
std::wstring double_image_name(const std::wstring& file);

class skin_image {
 public:
  skin_image() = default;
  ~skin_image();
  skin_image(const skin_image&) = delete;
  skin_image& operator=(const skin_image&) = delete;

  // Names a new file and drops any image loaded for the old one.
  void set_file(const std::wstring& file);
  const std::wstring& file() const { return file_; }
  bool empty() const { return file_.empty(); }

  // The image, loaded on first call; nullptr for an empty name.
  void* get();
  int width();
  int height();

 private:
  void drop();

  std::wstring file_;
  void* image_ = nullptr;
  bool loaded_ = false;
};

}  // namespace dui
