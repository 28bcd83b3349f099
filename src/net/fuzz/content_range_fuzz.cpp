// Feeds arbitrary header values (bytes as UTF-16 units) to the Content-Range
// parser; an accepted range must be consistent.
#include <cstdlib>
#include <vector>

#include "net/content_range.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<wchar_t> text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  // Also as plain bytes, the usual shape of a header value.
  std::vector<wchar_t> narrow(data, data + size);
  for (const std::vector<wchar_t>* input : {&text, &narrow}) {
    net::ContentRange range{};
    if (net::ParseContentRange(input->data(), input->size(), &range) &&
        (range.first > range.last || range.last >= range.total)) {
      std::abort();
    }
  }
  return 0;
}
