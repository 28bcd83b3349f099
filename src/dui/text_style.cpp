#include "dui/text_style.h"

#include <climits>

#include "dui/skin_json.h"

namespace dui {

const wchar_t kFaceSong[] = L"\u5B8B\u4F53";
const wchar_t kFaceYaHei[] = L"\u5FAE\u8F6F\u96C5\u9ED1";

namespace {

// sscanf("%d,%d,%d") without its overflow: leading blanks and a sign are
// accepted before each number, the commas must follow directly.
void parse_components(const std::string& text, int out[3]) {
  out[0] = out[1] = out[2] = 0;
  size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (i >= text.size() || text[i] != ',') return;
      ++i;
    }
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f')) {
      ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return;
    long long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (v < INT_MAX) v = v * 10 + (text[i] - '0');
      ++i;
    }
    out[k] = static_cast<int>(negative ? -(v > INT_MAX ? INT_MAX : v) : (v > INT_MAX ? INT_MAX : v));
  }
}

}  // namespace

uint32_t parse_color_argb(const std::string& text) {
  int c[3];
  parse_components(text, c);
  return 0xFF000000u | (static_cast<uint32_t>(c[0]) & 0xFF) << 16 |
         (static_cast<uint32_t>(c[1]) & 0xFF) << 8 | (static_cast<uint32_t>(c[2]) & 0xFF);
}

uint32_t parse_colorref(const std::string& text) {
  int c[3];
  parse_components(text, c);
  return (static_cast<uint32_t>(c[0]) & 0xFF) | (static_cast<uint32_t>(c[1]) & 0xFF) << 8 |
         (static_cast<uint32_t>(c[2]) & 0xFF) << 16;
}

int font_style_from_text(const std::string& text) {
  if (text == "bold") return 1;
  if (text == "italic") return 2;
  if (text == "bolditalic") return 3;
  if (text == "underline") return 4;
  if (text == "strikeout") return 8;
  return 0;
}

int alignment_from_text(const std::string& text) {
  if (text == "left") return 0;
  if (text == "right") return 2;
  return 1;
}

bool text_style::read_key(const std::string& key, const Json::Value& value, int os_major) {
  if (key == "t_color") {
    color = parse_color_argb(read_string(value));
  } else if (key == "t_color_disable") {
    color_disabled = parse_color_argb(read_string(value));
  } else if (key == "t_size") {
    size = read_int(value);
  } else if (key == "t_leftpad") {
    left_pad = read_int(value);
  } else if (key == "t_toppad") {
    top_pad = read_int(value);
  } else if (key == "t_len") {
    length = read_int(value);
  } else if (key == "t_fontface") {
    face = read_wstring(value);
  } else if (key == "t_xalign") {
    xalign = read_string(value);
  } else if (key == "t_yalign") {
    yalign = read_string(value);
  } else if (key == "t_fontstyle") {
    font_style = read_string(value);
  } else if (key == "t_limit") {
    limit = read_bool(value);
  } else if (key == "t_auto_fontface") {
    auto_face = read_bool(value);
  } else {
    return false;
  }
  if (auto_face) face = os_major > 5 ? kFaceYaHei : kFaceSong;
  return true;
}


rect text_style::text_rect(const rect& host) const {
  // Pads and lengths come from the skin; 64-bit sums keep absurd values
  // from overflowing.
  long long pad = left_pad;
  if (xalign == "center" && length > 0) pad = (static_cast<long long>(host.width()) - length) / 2;
  auto clamp = [](long long v) {
    return static_cast<int32_t>(v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : v));
  };
  rect r;
  r.left = clamp(host.left + pad);
  r.top = clamp(static_cast<long long>(host.top) + top_pad);
  r.bottom = clamp(static_cast<long long>(host.bottom) + top_pad);
  r.right = length > 0 ? clamp(static_cast<long long>(r.left) + length) : clamp(host.right + pad);
  return r;
}

}  // namespace dui
