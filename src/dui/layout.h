// Placement of a control inside its parent from the skin's x, y, w, h and
// align keys.
#pragma once

#include <array>
#include <string>

#include "dui/dui_types.h"

namespace dui {

enum class parent_kind { window, windowless };

// For a window-backed parent the result is relative to the parent's client
// area (origin 0, 0); for a windowless parent it is in the hosting window's
// client coordinates. An unknown align text gives an empty rectangle.
rect compute_rect(int x, int y, int w, int h, const std::string& align, const rect& parent,
                  parent_kind kind);

struct point {
  int32_t x;
  int32_t y;
};

// The 8-point window region of a top-level skin window of client size W x H
// with corners cut by c pixels.
std::array<point, 8> corner_region(int32_t width, int32_t height, int32_t corner);

}  // namespace dui
