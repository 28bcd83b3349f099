// Writes the EMBEDDED channel resource of a channel build: the identifier,
// given in UTF-8, converted to code page 936 and scrambled with the mask the
// installer uses.
//   embed_channel <output file> <channel identifier>
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/embedded_channel.h"

namespace {

bool Utf8ToCp936(const std::string& utf8, std::string* out) {
  iconv_t cd = iconv_open("CP936", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> buffer(utf8.size() * 2 + 16);
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* outPtr = buffer.data();
  size_t outLeft = buffer.size();
  const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return false;
  out->assign(buffer.data(), buffer.size() - outLeft);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: embed_channel <output file> <channel identifier (UTF-8)>\n");
    return 2;
  }
  std::string cp936;
  if (!Utf8ToCp936(argv[2], &cp936)) {
    std::fprintf(stderr, "embed_channel: the identifier cannot be written in code page 936\n");
    return 1;
  }
  const std::vector<unsigned char> image = EncodeEmbeddedChannel(cp936);
  if (image.size() > kMaxEmbeddedChannelResource) {
    std::fprintf(stderr, "embed_channel: identifier too long (%zu bytes, at most %zu)\n",
                 cp936.size(), kMaxEmbeddedChannelResource - 4);
    return 1;
  }
  FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "embed_channel: cannot write %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  const bool ok = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  return (std::fclose(file) == 0 && ok) ? 0 : 1;
}
