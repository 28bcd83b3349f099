#include "dui/text_style.h"

#include <gtest/gtest.h>

namespace dui {
namespace {

TEST(TextStyleTest, ColourTextsInBothForms) {
  struct Case {
    const char* text;
    uint32_t argb;
    uint32_t colorref;
  };
  const Case cases[] = {
      {"35,167,4", 0xFF23A704, 0x0004A723},
      {"255,0,255", 0xFFFF00FF, 0x00FF00FF},
      {"", 0xFF000000, 0},
      {"12", 0xFF0C0000, 0x0000000C},
      {"1, 2, 3", 0xFF010203, 0x00030201},
      {"1 ,2,3", 0xFF010000, 0x00000001},
      // Components are masked in both forms: nothing spills over.
      {"300,0,0", 0xFF2C0000, 0x0000002C},
      {"0,-1,0", 0xFF00FF00, 0x0000FF00},
      {"99999999999,0,0", 0xFFFF0000, 0x000000FF},
      {"red", 0xFF000000, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_color_argb(c.text), c.argb) << c.text;
    EXPECT_EQ(parse_colorref(c.text), c.colorref) << c.text;
  }
}

TEST(TextStyleTest, StyleAndAlignmentMaps) {
  const std::pair<const char*, int> styles[] = {{"normal", 0}, {"bold", 1},      {"italic", 2},
                                                {"bolditalic", 3}, {"underline", 4}, {"strikeout", 8},
                                                {"Bold", 0}};
  for (const auto& s : styles) EXPECT_EQ(font_style_from_text(s.first), s.second) << s.first;
  const std::pair<const char*, int> aligns[] = {
      {"left", 0}, {"center", 1}, {"right", 2}, {"top", 1}, {"", 1}};
  for (const auto& a : aligns) EXPECT_EQ(alignment_from_text(a.first), a.second) << a.first;
}

TEST(TextStyleTest, TextRectangle) {
  struct Case {
    int length, left_pad, top_pad;
    const char* xalign;
    rect host;
    rect expected;
  };
  const Case cases[] = {
      // Centred with a length: the pad centres it and the left pad is ignored.
      {350, 20, 0, "center", {60, 0, 680, 30}, {195, 0, 545, 30}},
      {100, 10, 4, "left", {60, 10, 680, 30}, {70, 14, 170, 34}},
      // Length 0 ends at the right edge shifted by the pad.
      {0, 10, 0, "left", {60, 10, 680, 30}, {70, 10, 690, 30}},
      {0, 10, 0, "center", {60, 10, 680, 30}, {70, 10, 690, 30}},
  };
  for (const Case& c : cases) {
    text_style s;
    s.length = c.length;
    s.left_pad = c.left_pad;
    s.top_pad = c.top_pad;
    s.xalign = c.xalign;
    EXPECT_EQ(s.text_rect(c.host), c.expected) << c.length << " " << c.xalign;
  }
}

TEST(TextStyleTest, KeysDefaultsAndAutomaticFace) {
  text_style s;
  EXPECT_EQ(s.face, kFaceSong);
  EXPECT_EQ(s.color, 0xFF010101u);
  EXPECT_EQ(s.color_disabled, 0xFFA2A2ABu);
  EXPECT_EQ(s.size, 12);
  EXPECT_EQ(s.length, 100);
  EXPECT_TRUE(s.limit);

  // With the automatic face any text key sets the system's face.
  EXPECT_TRUE(s.read_key("t_fontface", Json::Value("Arial"), 6));
  EXPECT_EQ(s.face, kFaceYaHei);
  EXPECT_TRUE(s.read_key("t_size", Json::Value(14), 5));
  EXPECT_EQ(s.face, kFaceSong);
  EXPECT_EQ(s.size, 14);
  EXPECT_FALSE(s.read_key("txt", Json::Value("x"), 6));
  EXPECT_FALSE(s.read_key("T_size", Json::Value(20), 6));
  EXPECT_EQ(s.size, 14);

  // "t_auto_fontface":false (read first: it sorts before "t_fontface")
  // keeps the node's own face.
  text_style own;
  EXPECT_TRUE(own.read_key("t_auto_fontface", Json::Value(false), 6));
  EXPECT_TRUE(own.read_key("t_fontface", Json::Value("Arial"), 6));
  EXPECT_EQ(own.face, L"Arial");
  EXPECT_TRUE(own.read_key("t_limit", Json::Value("FALSE"), 6));
  EXPECT_FALSE(own.limit);
  EXPECT_TRUE(own.read_key("t_color", Json::Value("300,0,0"), 6));
  EXPECT_EQ(own.color, 0xFF2C0000u);
}

}  // namespace
}  // namespace dui
