#include "dui/layout.h"

#include <algorithm>

namespace dui {
namespace {

rect window_parent_rect(int x, int y, int w, int h, const std::string& align, int W, int H) {
  rect r;
  if (align.empty() || align == "custom") {
    r.left = x < 0 ? x + W : x;
    r.top = y < 0 ? y + H : y;
    r.right = w < 0 ? W + w : r.left + w;
    r.bottom = h < 0 ? H + h : r.top + h;
  } else if (align == "bottom") {
    r.left = 0, r.right = W, r.bottom = H;
    r.top = H - (h < 0 ? H + h : h);
  } else if (align == "center") {
    const int cw = w > 0 ? w : W + w;
    const int ch = h > 0 ? h : H + h;
    r.left = (W - cw) / 2;
    r.top = (H - ch) / 2;
    r.right = r.left + cw;
    r.bottom = r.top + ch;
  } else if (align == "top") {
    r.left = 0, r.top = 0, r.right = W;
    r.bottom = h > 0 ? h : H - h;
  } else if (align == "left") {
    r.left = 0, r.top = 0, r.bottom = H;
    r.right = w <= 0 ? W + w : std::min(W, w);
  } else if (align == "right") {
    r.top = 0, r.right = W, r.bottom = H;
    r.left = W - (w <= 0 ? W + w : std::min(W, w));
  } else if (align == "all") {
    r.right = W, r.bottom = H;
  }
  return r;
}

rect windowless_parent_rect(int x, int y, int w, int h, const std::string& align, const rect& p) {
  const int L = p.left, T = p.top, R = p.right, B = p.bottom;
  const int W = R - L, H = B - T;
  rect r;
  if (align.empty() || align == "custom") {
    r.left = x + L < 0 ? R + x : x + L;
    r.top = y + T < 0 ? B + y : y + T;
    // Negative sizes are not used by any skin; they measure from the
    // parent's far edge like the window-backed rule.
    r.right = w >= 0 ? r.left + w : R + w;
    r.bottom = h >= 0 ? r.top + h : B + h;
  } else if (align == "bottom") {
    r.left = L, r.right = R, r.bottom = B;
    r.top = h < 0 ? T - h : B - h;
  } else if (align == "center") {
    const int cw = w > 0 ? w : W + w;
    const int ch = h > 0 ? h : B + h - T;
    r.left = L + x + (W - cw) / 2;
    r.top = T + y + (H - ch) / 2;
    r.right = r.left + cw;
    r.bottom = r.top + ch;
  } else if (align == "top") {
    r.left = L, r.top = T, r.right = R;
    r.bottom = h < 0 ? B + h : T + h;
  } else if (align == "left") {
    r.left = L, r.top = T, r.bottom = B;
    r.right = w <= 0 ? R + w : (W >= w ? L + w : R);
  } else if (align == "right") {
    r.top = T, r.right = R, r.bottom = B;
    r.left = R - (w > 0 ? std::min(W, w) : W + w);
  } else if (align == "all") {
    r = p;
  }
  return r;
}

}  // namespace

rect compute_rect(int x, int y, int w, int h, const std::string& align, const rect& parent,
                  parent_kind kind) {
  if (kind == parent_kind::window) {
    return window_parent_rect(x, y, w, h, align, parent.width(), parent.height());
  }
  return windowless_parent_rect(x, y, w, h, align, parent);
}

std::array<point, 8> corner_region(int32_t W, int32_t H, int32_t c) {
  return {{{0, c}, {c, 0}, {W - c, 0}, {W, c}, {W, H - c - 1}, {W - c - 1, H}, {c, H}, {0, H - c - 1}}};
}

}  // namespace dui
