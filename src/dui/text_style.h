// The text keys of a windowless control ("t_color", "t_size", ...), the
// colour texts of the skin and the rectangle a label is laid out in.
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>

#include "dui/dui_types.h"

namespace dui {

// "%d,%d,%d" (red, green, blue); missing components are 0. Both forms mask
// every component to 8 bits, so "300,0,0" cannot spill into green.
uint32_t parse_color_argb(const std::string& text);  // 0xFFRRGGBB, opaque
uint32_t parse_colorref(const std::string& text);    // 0x00BBGGRR

// GDI+ font style of a "t_fontstyle" text (regular for unknown texts).
int font_style_from_text(const std::string& text);
// GDI+ string alignment of a "t_xalign"/"t_yalign" text: near 0, center 1,
// far 2; unknown texts centre.
int alignment_from_text(const std::string& text);

extern const wchar_t kFaceSong[];   // 宋体
extern const wchar_t kFaceYaHei[];  // 微软雅黑

struct text_style {
  uint32_t color = 0xFF010101;
  uint32_t color_disabled = 0xFFA2A2AB;
  int size = 12;
  int left_pad = 0;
  int top_pad = 0;
  int length = 100;
  std::wstring face = kFaceSong;
  std::string xalign = "left";
  std::string yalign = "center";
  std::string font_style = "normal";
  bool limit = true;
  bool auto_face = true;

  // Reads one of the twelve text keys; false when the key is not one of
  // them. With the automatic face on, every text key read replaces the face
  // by the one for the running system (os_major > 5: 微软雅黑, else 宋体).
  bool read_key(const std::string& key, const Json::Value& value, int os_major);

  // The layout rectangle of the label inside the host rectangle.
  rect text_rect(const rect& host) const;
};

}  // namespace dui
